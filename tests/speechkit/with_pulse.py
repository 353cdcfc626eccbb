#!/usr/bin/env python3
"""Runs a command with a private PulseAudio server (a null sink whose monitor
is the default source) named in PULSE_SERVER, and stops the server after it.

  with_pulse.py COMMAND [ARGS...]

Exits with the command's exit code."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from pulse_server import PulseServer  # noqa: E402


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    folder = tempfile.mkdtemp(prefix="verdel-pulse-")
    try:
        with PulseServer(folder) as pulse:
            env = dict(os.environ)
            env.update(pulse.env)
            return subprocess.run(sys.argv[1:], env=env).returncode
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
