#!/usr/bin/env python3
"""Runs a command on a private X display (Xvfb, no window manager); with
--wine, as a Windows program in a private Wine session bound to it.

  with_display.py [--wine TOOLS_DIR] -- COMMAND [ARGS...]

TOOLS_DIR holds winprobe.exe (the session starts its services with it).
Exits with the command's exit status."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import WineSession, Xvfb  # noqa: E402


def main(argv):
    wine_tools = None
    if len(argv) >= 2 and argv[0] == "--wine":
        wine_tools, argv = argv[1], argv[2:]
    if not argv or argv[0] != "--" or len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    command = argv[1:]
    with Xvfb() as x:
        if wine_tools is None:
            return subprocess.run(command, env=dict(x.env, NO_AT_BRIDGE="1")).returncode
        with WineSession(x, os.path.abspath(wine_tools)) as wine:
            return subprocess.run(["wine"] + command, env=wine.env).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
