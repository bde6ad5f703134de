#!/usr/bin/env python3
"""HTTP servers for the network namespace tests: one per address given, all on one port, each
answering every GET with a small page naming its path, over kept-alive connections. Prints
"ready" once every server listens.
Usage: page_servers.py PORT ADDRESS..."""
import asyncio
import sys


async def serve(reader, writer):
    try:
        while True:
            head = await reader.readuntil(b"\r\n\r\n")
            body = b"<html><body>Page " + head.split(b" ", 2)[1] + b"</body></html>"
            writer.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n" % len(body))
            writer.write(body)
            await writer.drain()
    except (asyncio.IncompleteReadError, ConnectionError, asyncio.LimitOverrunError):
        pass
    finally:
        writer.close()


async def main():
    port = int(sys.argv[1])
    servers = [await asyncio.start_server(serve, address, port, backlog=256) for address in sys.argv[2:]]
    print("ready", flush=True)
    await asyncio.gather(*(s.serve_forever() for s in servers))


asyncio.run(main())
