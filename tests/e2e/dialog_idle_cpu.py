#!/usr/bin/env python3
"""Measures the processor time an idle dialog costs: dialogdemo (Linux
build) shows the listening-window table on a private Xvfb, in its own D-Bus
session with the accessibility bridge on, and runs its loop (one event at a
time, else waitForMessages(1000)). Reads utime+stime from /proc/PID/stat
before and after SECONDS of idling. A benchmark, not a test: it prints the
figure and asserts nothing.

  dialog_idle_cpu.py --bin DIR [--seconds 30]"""
import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from desktop import Program, Xvfb, rerun_in_private_session  # noqa: E402


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime (fields 14 and 15)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--seconds", type=float, default=30.0)
    opts = ap.parse_args()
    status = rerun_in_private_session(__file__, sys.argv[1:])
    if status is not None:
        return status
    hz = os.sysconf("SC_CLK_TCK")
    with Xvfb() as x, Program([os.path.join(opts.bin, "dialogdemo"), "listen", "--items",
                               "Alpha|Beta|Gamma"], x.env) as demo:
        demo.wait_line("event Activated 0")
        time.sleep(2)  # start-up work (the accessibility bridge) settles
        before, start = cpu_ticks(demo.proc.pid), time.time()
        time.sleep(opts.seconds)
        after, elapsed = cpu_ticks(demo.proc.pid), time.time() - start
    used = (after - before) / hz
    print("idle dialog: %.2f s of processor time in %.1f s = %.2f %% of a core"
          % (used, elapsed, 100.0 * used / elapsed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
