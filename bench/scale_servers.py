#!/usr/bin/env python3
"""HTTP servers for the scale measurements, one per loopback address given (127.0.0.x only),
all on one port. Each answers GET with a page of the given size after the given delay, keeps
connections open (HTTP/1.1 keep-alive), and logs the time of every answer. Options, each
repeatable: --hang ADDRESS makes that server accept every connection, read the request and never
answer; --trickle ADDRESS makes it send a head announcing 1000 bytes, then one byte a second.
--lines makes every page HTML of many short lines (paragraphs and numbers) instead of one line.
Requests that hang or trickle are logged (time and path) to LOG.slow, not to LOG.
Usage: scale_servers.py PORT LOG FIRST LAST DELAY_MS BODY_BYTES [--hang|--trickle 127.0.0.N]..."""
import asyncio
import sys
import time

TRICKLE_BYTES = 1000  # announced; at one byte a second no client waits for all of them


async def serve(reader, writer, delay, body, log):
    try:
        while True:
            head = await reader.readuntil(b"\r\n\r\n")
            path = head.split(b" ", 2)[1].decode("latin-1")
            if delay:
                await asyncio.sleep(delay)
            writer.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n" % len(body))
            writer.write(body)
            await writer.drain()
            log.write("%.6f %s\n" % (time.time(), path))
            log.flush()
    except (asyncio.IncompleteReadError, ConnectionError, asyncio.LimitOverrunError):
        pass
    finally:
        writer.close()


async def slow(reader, writer, trickle, log):
    try:
        head = await reader.readuntil(b"\r\n\r\n")
        log.write("%.6f %s\n" % (time.time(), head.split(b" ", 2)[1].decode("latin-1")))
        log.flush()
        if trickle:
            writer.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n" % TRICKLE_BYTES)
            for _ in range(TRICKLE_BYTES):
                await asyncio.sleep(1)
                writer.write(b"x")
                await writer.drain()
        await reader.read()  # until the client gives up
    except (asyncio.IncompleteReadError, ConnectionError, asyncio.LimitOverrunError):
        pass
    finally:
        writer.close()


async def main():
    port, logname, first, last = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    delay, size = int(sys.argv[5]) / 1000, int(sys.argv[6])
    modes = {}
    rest = sys.argv[7:]
    for i in range(0, len(rest) - 1, 2):
        if rest[i] in ("--hang", "--trickle"):
            modes[rest[i + 1]] = rest[i] == "--trickle"
    if "--lines" in rest:
        line = b'<div class="item"><p>Paragraph of text</p><span>12345</span></div>\n'
        body = (b"<html><body>\n" + line * (size // len(line) + 1))[:size]
    else:
        body = (b"<html>" + b"x" * size)[:size]
    log = open(logname, "a")
    slow_log = open(logname + ".slow", "a")
    servers = []
    for n in range(first, last + 1):
        address = "127.0.0.%d" % n
        if address in modes:
            trickle = modes[address]
            servers.append(await asyncio.start_server(
                lambda r, w, t=trickle: slow(r, w, t, slow_log), address, port, backlog=256))
        else:
            servers.append(await asyncio.start_server(
                lambda r, w: serve(r, w, delay, body, log), address, port, backlog=256))
    print("ready", flush=True)
    await asyncio.gather(*(s.serve_forever() for s in servers))


asyncio.run(main())
