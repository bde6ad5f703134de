#!/usr/bin/env python3
"""CPU time of a process in nanoseconds, as the kernel counts it: the time every thread of the
process ran (user and system), those that have ended included. /proc/PID/stat gives the same in
clock ticks (10 ms), too coarse for a figure of a few tens of milliseconds.
  cpu_clock.py PID             prints the CPU time PID has used so far, in ns (read through the
                               process's CPU clock, which Linux lets any process read)
  cpu_clock.py run OUT CMD...  runs CMD and, once it has ended, writes to OUT its wall time in
                               seconds, its CPU time in ns and its peak resident memory in KiB,
                               from the kernel's account of the ended child (user + system time
                               in microseconds, the same run time as above); SIGTERM and SIGINT
                               are passed on to CMD"""
import os
import signal
import sys
import time


def process_clock(pid):
    # Linux's CPU clock of a whole process: CPUCLOCK_SCHED (2) of PID, as clock_getcpuclockid(3)
    # makes it (include/linux/posix-timers.h).
    return ((~pid) << 3) | 2


def run(out, command):
    start = time.monotonic()
    pid = os.posix_spawnp(command[0], command, os.environ)
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda number, _frame: os.kill(pid, number))
    while True:
        try:
            _, status, usage = os.wait4(pid, 0)
            break
        except InterruptedError:
            continue
    elapsed = time.monotonic() - start
    cpu_ns = round((usage.ru_utime + usage.ru_stime) * 1e9)
    with open(out, "w") as f:
        f.write("%.3f %d %d\n" % (elapsed, cpu_ns, usage.ru_maxrss))
    return os.waitstatus_to_exitcode(status)


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "run":
        sys.exit(max(run(sys.argv[2], sys.argv[3:]), 0))
    if len(sys.argv) == 2:
        print(time.clock_gettime_ns(process_clock(int(sys.argv[1]))))
        return
    sys.exit(__doc__)


main()
