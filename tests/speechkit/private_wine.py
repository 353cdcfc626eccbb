#!/usr/bin/env python3
"""Runs a Windows test program headless in a Wine session of its own: a
linked copy of the prefix that WINEPREFIX names, with a server of its own.
Windows that the program makes without a display (COM's message-only
windows) then never touch the desktop that other tests' windows use in the
shared prefix, and classes it registers stay in its copy.

  private_wine.py PROGRAM [ARGS...]

Exits with the program's status; its output follows once it has ended."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import desktop  # noqa: E402  (the prefix copy)


def main(argv):
    if not argv:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    base = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
    tmp = tempfile.mkdtemp(prefix="verdel-wine-")
    prefix = os.path.join(tmp, "prefix")
    env = dict(os.environ, WINEPREFIX=prefix)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    quiet = dict(env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL)
    try:
        desktop.copy_prefix(base, prefix)
        # The server (and the services the program starts) must not inherit
        # the output that ctest reads: the program writes into files.
        subprocess.run(["wineserver"], **quiet)
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(["wine"] + argv, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err).returncode
            out.seek(0)
            err.seek(0)
            sys.stdout.buffer.write(out.read())
            sys.stderr.buffer.write(err.read())
        return code
    finally:
        subprocess.run(["wineserver", "-k"], **quiet)
        subprocess.run(["wineserver", "-w"], **quiet)
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
