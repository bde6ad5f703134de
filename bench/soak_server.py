#!/usr/bin/env python3
"""Misbehaving web servers for the soak run, and the check of the program's page list after it.

  soak_server.py serve --pages N --servers S --seed X --log FILE --port-file FILE
      Listens on 127.0.0.2 ... 127.0.0.(S+1), one port for all. Page k is /p<k> on server
      127.0.0.(2 + (k-1) % S). Each request is answered in one of a dozen ways, drawn from a
      random generator seeded per page, so a page's answers depend only on how often it was asked,
      not on the order in which the program asks for pages. Every answer is logged with the text the
      program must have made of it; on SIGTERM or SIGINT the log is written and the server ends.
  soak_server.py pagelist FILE --port P --pages N --servers S
      Writes the page list file: every page due at once, checked every minute.
  soak_server.py check --log FILE --pages FILE --stop T
      Replays each page's log through the program's rules (online, changed, offline; the stored
      checksum) and compares the result with the saved page list. Answers that ended less than a
      few seconds before the program was stopped (time T) may or may not have been taken in, so
      for them the state before them is accepted too.
"""
import argparse
import asyncio
import json
import random
import signal
import socket
import struct
import sys
import time
import zlib

# The ways of answering and their weights. Every answer is framed so that the program knows
# where it ends (a length, chunks, or a close), except "hang", which waits for the program's
# read time-out.
WAYS = [
    ("normal", 24),     # 200, Content-Length, bytes as Latin-1, connection kept
    ("utf8", 8),        # 200, charset=utf-8, the same text as UTF-8
    ("close", 6),       # 200 with "Connection: close" and no length: the body ends at the close
    ("slow", 5),        # 200, the body in pieces 0.2 s apart
    ("hang", 1),        # 200, half the body, then nothing until the program gives up
    ("mid-head", 6),    # part of the head, then a close: empty text
    ("mid-body", 6),    # the head and part of the body, then a close: the part is the text
    ("chunked", 10),    # 200, chunked transfer coding
    ("error", 6),       # 500 with a body
    ("redirect", 8),    # 302 to /p<k>/moved on this or another server, answered normally
    ("garbage", 6),     # bytes that are no HTTP, then a close
    ("reset", 6),       # a TCP reset right after the request
    ("large", 3),       # 200, 2 to 4 MB
]
CHANGE_CHANCE = 0.15    # before each answer, the page's text changes with this chance
HANG_CAP_S = 120        # a hung answer ends here if the program never closes
IDLE_CAP_S = 300        # an idle kept connection is closed after this
LATIN1_SPICE = "caf\u00e9 na\u00efve \u00bd \u00a3 \u00a9 \u00fc\u00df"


def checksum_text(text):
    """The program's stored checksum: CRC-32 (IEEE 802.3) of the text as UTF-16LE."""
    return "CRC of a text above is: %08X" % zlib.crc32(text.encode("utf-16-le"))


def page_text(page, version):
    rng = random.Random(page * 7919 + version)
    words = " ".join(rng.choice(["alpha", "beta", "gamma", LATIN1_SPICE, "delta", "\u00e9t\u00e9"])
                     for _ in range(rng.randint(20, 400)))
    return "<html><body><h1>Page %d</h1><p>Version %d</p><p>%s</p></body></html>\n" % (page, version, words)


def large_text(page, version, size):
    line = "Page %d version %d: %s, a large page line.\n" % (page, version, LATIN1_SPICE)
    return (line * (size // len(line) + 1))[:size]


class Page:
    def __init__(self, number, seed):
        self.number = number
        self.rng = random.Random(seed * 1000003 + number)
        self.version = 0
        self.log = []  # [start, end or None, way, checksum text or None, outcome]


class Servers:
    def __init__(self, pages, servers, seed):
        self.pages = {k: Page(k, seed) for k in range(1, pages + 1)}
        self.servers = servers
        self.port = 0
        self.total_weight = sum(w for _, w in WAYS)

    def draw_way(self, page):
        x = page.rng.uniform(0, self.total_weight)
        for name, weight in WAYS:
            x -= weight
            if x < 0:
                return name
        return WAYS[-1][0]

    async def handle(self, reader, writer):
        sock = writer.get_extra_info("socket")
        try:
            while True:
                try:
                    request = await asyncio.wait_for(reader.readuntil(b"\r\n\r\n"), IDLE_CAP_S)
                except (asyncio.IncompleteReadError, asyncio.TimeoutError, asyncio.LimitOverrunError):
                    break
                line = request.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
                path = line[1] if len(line) > 1 else ""
                keep = await self.answer(path, reader, writer, sock)
                if not keep:
                    break
        except (ConnectionError, OSError):
            pass
        finally:
            writer.close()

    async def answer(self, path, reader, writer, sock):
        parts = path.strip("/").split("/")
        number = int(parts[0][1:]) if parts[0][:1] == "p" and parts[0][1:].isdigit() else 0
        page = self.pages.get(number)
        if page is None or len(parts) > 2 or (len(parts) == 2 and parts[1] != "moved"):
            writer.write(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            await writer.drain()
            return False
        record = [time.time(), None, "", None, "none"]
        page.log.append(record)
        if len(parts) == 2:
            way = "moved"
        else:
            if page.rng.random() < CHANGE_CHANCE:
                page.version += 1
            way = self.draw_way(page)
        record[2] = way
        text = page_text(page.number, page.version)
        body = text.encode("latin-1")
        keep = True
        try:
            if way in ("normal", "moved"):
                self.served(record, text)
                await self.send(writer, self.head("200 OK", "text/html", len(body)) + body)
            elif way == "utf8":
                data = text.encode("utf-8")
                self.served(record, text)
                await self.send(writer, self.head("200 OK", "text/html; charset=utf-8", len(data)) + data)
            elif way == "close":
                self.served(record, text)
                await self.send(writer, b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"
                                + body)
                keep = False
            elif way == "slow":
                self.served(record, text)
                await self.send(writer, self.head("200 OK", "text/html", len(body)))
                step = len(body) // 4 + 1
                for at in range(0, len(body), step):
                    await asyncio.sleep(0.2)
                    await self.send(writer, body[at:at + step])
            elif way == "hang":
                await self.send(writer, self.head("200 OK", "text/html", len(body)) + body[:len(body) // 2])
                try:
                    await asyncio.wait_for(reader.read(), HANG_CAP_S)
                except asyncio.TimeoutError:
                    pass
                keep = False
            elif way == "mid-head":
                head = self.head("200 OK", "text/html", len(body))
                await self.send(writer, head[:page.rng.randint(1, len(head) - 1)])
                keep = False
            elif way == "mid-body":
                cut = page.rng.randint(1, len(body) - 1)
                self.served(record, body[:cut].decode("latin-1"))
                await self.send(writer, self.head("200 OK", "text/html", len(body)) + body[:cut])
                keep = False
            elif way == "chunked":
                data, at = b"", 0
                while at < len(body):
                    n = page.rng.randint(1, 700)
                    data += b"%x\r\n" % len(body[at:at + n]) + body[at:at + n] + b"\r\n"
                    at += n
                self.served(record, text)
                await self.send(writer, b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                b"Transfer-Encoding: chunked\r\n\r\n" + data + b"0\r\n\r\n")
            elif way == "error":
                message = b"<html><body>Internal error</body></html>"
                await self.send(writer, b"HTTP/1.1 500 Internal Server Error\r\nContent-Length: %d\r\n\r\n"
                                % len(message) + message)
            elif way == "redirect":
                record[4] = "redirect"
                target = page.rng.choice(["p%d/moved" % page.number, "/p%d/moved" % page.number,
                                          "http://127.0.0.%d:%d/p%d/moved"
                                          % (page.rng.randint(2, self.servers + 1), self.port, page.number)])
                await self.send(writer, ("HTTP/1.1 302 Found\r\nLocation: %s\r\nContent-Length: 0\r\n\r\n"
                                         % target).encode("ascii"))
            elif way == "garbage":
                junk = bytes(page.rng.choice(b"!#%&*<>?@ABCXYZ~\x7f\x80\xc3\xfe") for _ in range(page.rng.randint(1, 3000)))
                await self.send(writer, junk)
                keep = False
            elif way == "reset":
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                writer.transport.abort()
                keep = False
            elif way == "large":
                big = large_text(page.number, page.version, page.rng.randint(2 << 20, 4 << 20))
                data = big.encode("latin-1")
                self.served(record, big)
                await self.send(writer, self.head("200 OK", "text/plain", len(data)) + data)
        except (ConnectionError, OSError):
            # The program went away in the middle of the answer (it was stopped, or gave up): what
            # it made of this answer is unknown.
            return False
        record[1] = time.time()
        return keep

    @staticmethod
    def head(status, content_type, length):
        return ("HTTP/1.1 %s\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n"
                % (status, content_type, length)).encode("ascii")

    @staticmethod
    def served(record, text):
        record[3] = checksum_text(text) if text else None
        record[4] = "text" if text else "none"

    @staticmethod
    async def send(writer, data):
        writer.write(data)
        await writer.drain()

    async def run(self, port_file):
        stop = asyncio.Event()
        loop = asyncio.get_running_loop()
        for s in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(s, stop.set)
        listeners = []
        for attempt in range(50):
            port = random.randint(20000, 60000)
            try:
                for i in range(self.servers):
                    listeners.append(await asyncio.start_server(self.handle, "127.0.0.%d" % (2 + i), port,
                                                                reuse_address=True))
                self.port = port
                break
            except OSError:
                for listener in listeners:
                    listener.close()
                listeners = []
        if not self.port:
            sys.exit("no free port on 127.0.0.2 ... 127.0.0.%d" % (self.servers + 1))
        with open(port_file, "w") as f:
            f.write("%d\n" % self.port)
        await stop.wait()
        for listener in listeners:
            listener.close()


def serve(args):
    servers = Servers(args.pages, args.servers, args.seed)
    asyncio.run(servers.run(args.port_file))
    with open(args.log, "w") as f:
        json.dump({str(k): p.log for k, p in servers.pages.items()}, f)


def pagelist(args):
    lines = ["[main]", "count=%d" % args.pages, "start=0", "sort=0", "recheck=0"]
    for k in range(1, args.pages + 1):
        lines += ["[web%d]" % k, "caption=Page %d" % k, "status=2",
                  "item1=http://127.0.0.%d:%d/p%d" % (2 + (k - 1) % args.servers, args.port, k),
                  "item2=0", "item3=", "item4="]
    with open(args.file, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


def read_page_list(path):
    data = open(path, "rb").read()
    text = data[2:].decode("utf-16-le") if data[:2] == b"\xff\xfe" else data.decode("utf-8", "replace")
    sections, current = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].lower(), {})
        elif current is not None and "=" in line:
            key, value = line.split("=", 1)
            current.setdefault(key.strip().lower(), value.strip())
    pages = {}
    for k in range(1, int(sections.get("main", {}).get("count", "0")) + 1):
        s = sections.get("web%d" % k, {})
        caption = s.get("caption", "")
        if caption.startswith("Page "):
            pages[int(caption[5:])] = (int(s.get("status", "2")), s.get("item4", ""))
    return pages


def replay(records):
    """The (status, checksum) the program's rules give after these answers, in order."""
    status, stored = 2, ""
    for _, _, _, crc, outcome in records:
        if outcome == "text":
            status = 1 if stored and stored != crc else 0
            stored = crc
        elif outcome == "none":
            status = 2
    return status, stored


def check(args):
    log = json.load(open(args.log))
    saved = read_page_list(args.pages)
    settle = args.stop - args.settle
    ways, wrong, open_at_stop, checked = {}, [], 0, [0, 0, 0]
    for key, records in sorted(log.items(), key=lambda kv: int(kv[0])):
        page = int(key)
        for r in records:
            ways[r[2]] = ways.get(r[2], 0) + 1
        gets = sum(1 for r in records if r[2] != "moved")
        checked[min(gets, 2)] += 1
        first_open = next((i for i, r in enumerate(records) if r[1] is None or r[1] > settle), len(records))
        accepted = {replay(records[:n]) for n in range(first_open, len(records) + 1)}
        if first_open < len(records):
            open_at_stop += 1
        got = saved.get(page)
        if got not in accepted:
            wrong.append((page, got, sorted(accepted), [r[2] for r in records[-4:]]))
    total = sum(ways.values())
    print("pages: %d; asked 0 times: %d, once: %d, twice or more: %d" % (len(log), *checked))
    print("answers: %d (%s)" % (total, ", ".join("%s %d" % kv for kv in sorted(ways.items()))))
    print("pages with an answer still open at the stop (either state accepted): %d" % open_at_stop)
    print("final status and checksum right: %d of %d" % (len(log) - len(wrong), len(log)))
    for page, got, accepted, last in wrong[:10]:
        print("  page %d: saved %s, expected one of %s; last answers %s" % (page, got, accepted, last))
    return 1 if wrong or len(saved) != len(log) else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("serve")
    p.add_argument("--pages", type=int, default=1000)
    p.add_argument("--servers", type=int, default=20)
    p.add_argument("--seed", type=int, default=12)
    p.add_argument("--log", required=True)
    p.add_argument("--port-file", required=True)
    p = sub.add_parser("pagelist")
    p.add_argument("file")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--pages", type=int, default=1000)
    p.add_argument("--servers", type=int, default=20)
    p = sub.add_parser("check")
    p.add_argument("--log", required=True)
    p.add_argument("--pages", required=True)
    p.add_argument("--stop", type=float, required=True)
    p.add_argument("--settle", type=float, default=3.0)
    args = parser.parse_args()
    if args.command == "serve":
        serve(args)
    elif args.command == "pagelist":
        pagelist(args)
    else:
        sys.exit(check(args))


if __name__ == "__main__":
    main()
