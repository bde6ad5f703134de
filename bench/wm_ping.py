#!/usr/bin/env python3
"""Measures how quickly a window's event loop answers: sends _NET_WM_PING client messages to the
window every few milliseconds (one outstanding at a time) for a period and prints the longest
and the median round trip in milliseconds. The window's client answers by sending the message
back to the root window, which this tool watches (SubstructureNotify).
Usage: wm_ping.py WINDOW_ID SECONDS [INTERVAL_MS]"""
import ctypes
import ctypes.util
import select
import sys
import time

x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XPending.argtypes = [ctypes.c_void_p]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x11.XConnectionNumber.argtypes = [ctypes.c_void_p]

CLIENT_MESSAGE = 33
STRUCTURE_NOTIFY_MASK = 1 << 17
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("client", ClientMessage), ("pad", ctypes.c_long * 24)]


def main():
    window = int(sys.argv[1], 0)
    seconds = float(sys.argv[2])
    interval = float(sys.argv[3]) / 1000 if len(sys.argv) > 3 else 0.005
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("no display")
    protocols = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    ping = x11.XInternAtom(display, b"_NET_WM_PING", 0)
    root = x11.XDefaultRootWindow(display)
    x11.XSelectInput(display, root, STRUCTURE_NOTIFY_MASK | SUBSTRUCTURE_NOTIFY_MASK)
    fd = x11.XConnectionNumber(display)
    trips = []
    unanswered = 0
    end = time.monotonic() + seconds
    stamp = 1
    while time.monotonic() < end:
        event = Event()
        event.client.type = CLIENT_MESSAGE
        event.client.window = window
        event.client.message_type = protocols
        event.client.format = 32
        event.client.data[0] = ping
        event.client.data[1] = stamp
        event.client.data[2] = window
        sent = time.monotonic()
        x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
        answered = False
        # One ping at a time, so a long answer time is one freeze, not a queue of pings.
        while not answered and time.monotonic() < end + 60:
            if not x11.XPending(display):
                select.select([fd], [], [], 0.05)
                continue
            reply = Event()
            x11.XNextEvent(display, ctypes.byref(reply))
            if (reply.type == CLIENT_MESSAGE and reply.client.data[0] == ping and
                    reply.client.data[1] == stamp):
                trips.append((time.monotonic() - sent) * 1000)
                answered = True
        if not answered:
            unanswered += 1
            break
        stamp += 1
        time.sleep(interval)
    if not trips:
        print("no answer")
        sys.exit(1)
    trips.sort()
    print("pings %d longest %.1f median %.2f unanswered %d" %
          (len(trips), trips[-1], trips[len(trips) // 2], unanswered))


main()
