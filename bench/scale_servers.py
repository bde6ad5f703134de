#!/usr/bin/env python3
"""HTTP servers for the scale measurements, one per loopback address given (127.0.0.x only),
all on one port. Each answers GET with a page of the given size after the given delay, keeps
connections open (HTTP/1.1 keep-alive), and logs the time of every answer. With --hang ADDRESS
that server accepts every connection and never answers.
Usage: scale_servers.py PORT LOG FIRST LAST DELAY_MS BODY_BYTES [--hang 127.0.0.N]"""
import asyncio
import sys
import time


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


async def hang(reader, writer):
    try:
        await reader.read()  # until the client gives up
    finally:
        writer.close()


async def main():
    port, logname, first, last = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    delay, size = int(sys.argv[5]) / 1000, int(sys.argv[6])
    hung = sys.argv[8] if len(sys.argv) > 8 and sys.argv[7] == "--hang" else None
    body = (b"<html>" + b"x" * size)[:size]
    log = open(logname, "a")
    servers = []
    for n in range(first, last + 1):
        address = "127.0.0.%d" % n
        if address == hung:
            servers.append(await asyncio.start_server(hang, address, port))
        else:
            servers.append(await asyncio.start_server(
                lambda r, w: serve(r, w, delay, body, log), address, port, backlog=256))
    print("ready", flush=True)
    await asyncio.gather(*(s.serve_forever() for s in servers))


asyncio.run(main())
