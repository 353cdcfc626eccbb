#!/usr/bin/env python3
"""Benchmarks of the listening window with the stand-in component, window
open on a private Xvfb display, no requests: time from start to the window
being mapped, CPU used while idle (utime + stime from /proc/PID/stat), and
resident memory (VmRSS, VmHWM from /proc/PID/status). Under Wine the CPU of
the session's wineserver over the same period is given too. Run the native
one inside a D-Bus session (dbus-run-session), as the window's
accessibility bridge runs for a user.

  bench/hearken_bench.py --exe build/bin/hearken --testkit build/bin/testkit.so \\
      --regsvr build/bin/verdel-regsvr [--seconds 60]
  bench/hearken_bench.py --wine --exe build-win/bin/hearken.exe \\
      --testkit build-win/bin/testkit.dll [--seconds 60]"""
import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import hearken_e2e  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


def memory(pid):
    out = {}
    for line in open("/proc/%d/status" % pid):
        if line.startswith(("VmRSS", "VmHWM")):
            key, value = line.split(":")
            out[key] = value.strip()
    return out


def wineserver_pid(prefix):
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if open("/proc/%s/comm" % entry).read().strip() not in ("wineserver", "wineserver64"):
                continue
            env = open("/proc/%s/environ" % entry, "rb").read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=" + prefix).encode() in env:
            return int(entry)
    return None


def window_mapped(world):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                        "^%s$" % hearken_e2e.TITLE], env=world.env, capture_output=True, text=True)
    return r.returncode == 0 and r.stdout.strip()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--testkit", required=True)
    ap.add_argument("--regsvr")
    ap.add_argument("--wine", action="store_true")
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--runs", type=int, default=5, help="start-up timings to take")
    opts = ap.parse_args()
    opts.exe = os.path.abspath(opts.exe)
    opts.testkit = os.path.abspath(opts.testkit)
    opts.regsvr = opts.regsvr and os.path.abspath(opts.regsvr)
    opts.nofactory = None
    opts.winprobe = None  # beside the program
    opts.shots = None
    kind = "wine" if opts.wine else "native"
    with hearken_e2e.World(opts) as world:
        # No inbox: the stand-in's watcher thread would wake the process 50
        # times a second, which is not the window's own cost.
        world.env.pop("VERDEL_TESTKIT_INBOX", None)
        startups = []
        for _ in range(opts.runs):
            start = time.monotonic()
            proc = world.start_hearken()
            hearken_e2e.wait_for("the window", lambda: window_mapped(world), 30)
            startups.append(time.monotonic() - start)
            if len(startups) < opts.runs:
                proc.kill()
                proc.wait()
        startups.sort()
        print("%s start to window mapped: median %.0f ms (min %.0f, max %.0f, %d runs)" % (
            kind, 1000 * startups[len(startups) // 2], 1000 * startups[0], 1000 * startups[-1],
            len(startups)))
        time.sleep(2)  # settle
        server = wineserver_pid(world.env["WINEPREFIX"]) if opts.wine else None
        before = cpu_seconds(proc.pid)
        server_before = cpu_seconds(server) if server else 0
        t0 = time.monotonic()
        time.sleep(opts.seconds)
        elapsed = time.monotonic() - t0
        used = cpu_seconds(proc.pid) - before
        print("%s idle CPU over %.0f s: %.2f%% of a core (%.2f s)" % (
            kind, elapsed, 100 * used / elapsed, used))
        if server:
            used = cpu_seconds(server) - server_before
            print("%s wineserver over the same period: %.2f%% of a core" % (
                kind, 100 * used / elapsed))
        print("%s memory: %s" % (kind, ", ".join("%s %s" % kv for kv in memory(proc.pid).items())))


if __name__ == "__main__":
    main()
