#!/usr/bin/env python3
"""Resident memory of the native tutor after start-up: starts it in tmux with
the stand-in listening window, waits for the first typing prompt and reads
VmRSS and VmHWM from /proc.

  bench/measure_rss.py build/bin/verdel101 book/orvane.txt"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import tutor_e2e  # noqa: E402


def main():
    exe, book = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    opts = type("Opts", (), {"exe": exe, "book": book, "wine": False})()
    with tutor_e2e.Run(opts) as run:
        run.wait_row(4, "Please type: ", 40)
        pid = run.term.program_pid()
        status = open("/proc/%s/status" % pid).read()
        for line in status.splitlines():
            if line.startswith(("VmRSS", "VmHWM")):
                print(line)


if __name__ == "__main__":
    main()
