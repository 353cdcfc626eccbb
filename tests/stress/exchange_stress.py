#!/usr/bin/env python3
"""Exchange stress: a writer and a reader process of speak.txt, then of
heard.txt, on one scratch install directory, running the programs' own
exchange routines (tests/stress/exchange_stress.cpp) at full speed. Passes
when no record was torn, taken twice or lost. Prints records per second.

  exchange_stress.py --exe build/bin/exchange_stress [--wine] [-n 100000]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile


def run_pair(opts, home, kind):
    env = dict(os.environ)
    env["VERDEL_HOME"] = ("Z:" + home.replace("/", "\\")) if opts.wine else home
    prefix = ["wine"] if opts.wine else []
    procs = []
    for role in ("read", "write"):  # the reader first, as the other side runs already
        procs.append(subprocess.Popen(prefix + [opts.exe, "%s-%s" % (kind, role), str(opts.n)],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT, env=env, cwd=home))
    ok = True
    for p in procs:
        try:
            out, _ = p.communicate(timeout=opts.timeout)
        except subprocess.TimeoutExpired:
            p.kill()
            out, _ = p.communicate()
            print("%s: no end within %d s" % (kind, opts.timeout))
            ok = False
        text = out.decode(errors="replace").strip()
        print("  " + text.replace("\n", "\n  "))
        ok = ok and p.returncode == 0
    for name in ("speak.txt", "heard.txt"):
        path = os.path.join(home, name)
        if os.path.exists(path):
            os.unlink(path)
    return ok


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--wine", action="store_true")
    ap.add_argument("-n", type=int, default=100000)
    ap.add_argument("--timeout", type=int, default=1800)
    opts = ap.parse_args()
    opts.exe = os.path.abspath(opts.exe)
    home = tempfile.mkdtemp(prefix="verdel-stress-")
    try:
        results = [(kind, run_pair(opts, home, kind)) for kind in ("speak", "heard")]
    finally:
        shutil.rmtree(home, ignore_errors=True)
    for kind, ok in results:
        print("%s %s.txt" % ("PASS" if ok else "FAIL", kind))
    return 0 if all(ok for _, ok in results) else 1


if __name__ == "__main__":
    sys.exit(main())
