"""What end-to-end drivers of window programs need around them: a private X
display (Xvfb, no window manager), a private Wine session bound to that
display, a program whose output lines are collected, the Windows probe
(winprobe.exe) and screenshots.

    with Xvfb() as x, WineSession(x, tools_dir) as wine:
        demo = Program(wine.command("dialogdemo.exe", "listen"), env=wine.env)
        wine.probe("list", "Verdel Listening Window", "105")

The Wine session works on a private copy of the prepared prefix named by
WINEPREFIX (hard links, with the registry files copied and the Temp
folders empty), so that its own server and desktop use this display while
other tests keep theirs."""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time


class Failure(Exception):
    pass


def _die_with_parent():
    """Runs in a child before exec: it gets SIGTERM when the driver dies, so a
    killed test leaves no X server or program behind."""
    import ctypes
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def wait_for(what, predicate, timeout=10.0, step=0.05):
    deadline = time.time() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.time() >= deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(step)


def rerun_in_private_session(script, argv):
    """Runs the script again under Debian's python (it has pyatspi) inside a
    D-Bus session of its own, with private runtime and cache directories:
    the accessibility bus puts its socket there, and runs side by side
    would otherwise take each other's. Returns its exit status; None when
    this already is that run."""
    if os.environ.get("VERDEL_PRIVATE_SESSION") == "1":
        return None
    home = tempfile.mkdtemp(prefix="verdel-session-")
    try:
        env = dict(os.environ, VERDEL_PRIVATE_SESSION="1",
                   XDG_RUNTIME_DIR=os.path.join(home, "run"),
                   XDG_CACHE_HOME=os.path.join(home, "cache"))
        os.mkdir(env["XDG_RUNTIME_DIR"], 0o700)
        os.mkdir(env["XDG_CACHE_HOME"], 0o700)
        return subprocess.run(["dbus-run-session", "--", "/usr/bin/python3",
                               os.path.abspath(script)] + list(argv), env=env).returncode
    finally:
        shutil.rmtree(home, ignore_errors=True)


class Xvfb:
    """A fresh X server on a free display number, pointer parked in the
    top-left corner (with no window manager the pointer decides which
    window has the keyboard)."""

    def __init__(self, size="1024x768x24"):
        read, write = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", size, "-nolisten", "tcp",
             "-noreset"], pass_fds=(write,), preexec_fn=_die_with_parent, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        with os.fdopen(read, "rb") as f:
            while not number.endswith(b"\n"):
                chunk = f.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.proc.kill()
            self.proc.wait()
            raise Failure("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("WAYLAND_DISPLAY", None)
        subprocess.run(["xdotool", "mousemove", "0", "0"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def screenshot(self, path):
        """The whole screen as PNG."""
        xwd = subprocess.run(["xwd", "-root", "-silent", "-display", self.display],
                             capture_output=True, check=True).stdout
        subprocess.run(["convert", "xwd:-", path], input=xwd, check=True)
        return path

    def region_mean(self, png, x, y, w, h):
        """Mean brightness (0..1) of a screen region: the screen is black
        where nothing is drawn."""
        out = subprocess.run(["convert", png, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                              "-colorspace", "gray", "-format", "%[fx:mean]", "info:"],
                             capture_output=True, text=True, check=True).stdout
        return float(out)

    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True,
                              text=True).stdout

    def window_ids(self, title):
        out = self.xdotool("search", "--name", "^%s$" % title)
        return [w for w in out.split() if w]

    def keys_to(self, title, *keys):
        """Types keys once the window with that name has the keyboard. A
        window is told it is active before the X server gives it the input
        focus (Wine sets that focus itself, a moment later, with no window
        manager): keys typed in between reach no window."""
        wait_for("keyboard focus on %r" % title,
                 lambda: self.xdotool("getwindowfocus").strip() in self.window_ids(title))
        self.xdotool("key", *keys)

    def geometry(self, title):
        """(x, y, width, height) of the X window with that name."""
        wid = wait_for("X window %r" % title, lambda: self.window_ids(title))[0]
        out = self.xdotool("getwindowgeometry", "--shell", wid)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def copy_prefix(base, prefix):
    """A private copy at `prefix` of the Wine prefix `base`, for a session
    with its own server: files are hard links (instant), except the
    registry files, which the server rewrites, and anything a link cannot
    reach (another file system), which are copied. Temp folders come over
    empty. Unit tests running in `base` keep their scratch files there, and
    the exchange routines refuse a file with a second link: a linked copy
    of one would fail those tests for as long as the session lasted."""
    base = os.path.abspath(base)

    def temp_contents(directory, names):
        inside = os.path.relpath(directory, base).lower().split(os.sep)
        return names if inside[0] == "drive_c" and inside[-1] == "temp" else []

    def link(source, target):
        if os.path.dirname(source) != base or not source.endswith(".reg"):
            try:
                os.link(source, target)
                return target
            except OSError:
                pass
        return shutil.copy2(source, target)

    shutil.copytree(base, prefix, symlinks=True, copy_function=link, ignore=temp_contents)


class WineSession:
    """A private Wine server and desktop on the given display, over a linked
    copy of the prefix that WINEPREFIX names (prepared by wineboot).
    Windows are unmanaged (X11 Driver Managed=N): Wine draws their captions
    and Alt+F4 reaches them without a window manager."""

    def __init__(self, xvfb, tools_dir):
        base = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
        if not os.path.exists(os.path.join(base, "system.reg")):
            raise Failure("no prepared Wine prefix at %s (set WINEPREFIX; wineboot -i)" % base)
        self.tools_dir = tools_dir
        self.tmp = tempfile.mkdtemp(prefix="verdel-wine-")
        self.prefix = os.path.join(self.tmp, "prefix")
        copy_prefix(base, self.prefix)
        self.env = dict(xvfb.env, WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEARCH="win64",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, env=self.env)
        unmanaged = self._set_unmanaged()
        # The server and the desktop's services start here, not inside a
        # probe whose output pipe they would inherit. The server is not made
        # persistent: it ends a few seconds after the probe process below,
        # which ends with the driver (its input closes).
        subprocess.run(["wineserver"], **quiet)
        if not unmanaged:
            subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v",
                            "Managed", "/d", "N", "/f"], **quiet)
        subprocess.run(["wine", self.tool("winprobe.exe"), "windows"], **quiet)
        # One probe process answers every question of the session.
        self.prober = subprocess.Popen(["wine", self.tool("winprobe.exe"), "serve"],
                                       env=self.env, stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                       text=True, bufsize=1)

    def _set_unmanaged(self):
        """Managed=N written straight into the copied registry (the server
        is not up yet); False when the key is there already to be edited
        by the registry tool."""
        path = os.path.join(self.prefix, "user.reg")
        with open(path, encoding="utf-8", errors="surrogateescape") as f:
            text = f.read()
        if "[Software\\\\Wine\\\\X11 Driver]" in text:
            return '"Managed"="N"' in text.split("[Software\\\\Wine\\\\X11 Driver]")[1] \
                .split("\n[")[0]
        with open(path, "a", encoding="utf-8", errors="surrogateescape") as f:
            f.write('\n[Software\\\\Wine\\\\X11 Driver] %d\n"Managed"="N"\n' % int(time.time()))
        return True

    def tool(self, name):
        return os.path.join(self.tools_dir, name)

    def command(self, exe, *args):
        return ["wine", exe] + list(args)

    def probe(self, *args, timeout=10.0, check=True):
        """Asks winprobe; its JSON lines as a list of dicts (winprobe waits
        for the window itself, up to `timeout`)."""
        self.prober.stdin.write("\t".join(["--timeout", str(int(timeout * 1000))] +
                                          [str(a) for a in args]) + "\n")
        self.prober.stdin.flush()
        results, other = [], []
        while True:
            line = self.prober.stdout.readline()
            if not line:
                raise Failure("winprobe ended; it said:\n" + "".join(other))
            if line.startswith('{"status":'):
                status = json.loads(line)["status"]
                break
            if line.startswith("{"):
                results.append(json.loads(line))
            else:
                other.append(line)
        if check and status != 0:
            raise Failure("winprobe %s: status %d %s" % (" ".join(args), status,
                                                         "".join(other).strip()))
        return results

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self.prober.poll() is None:
            self.prober.stdin.close()
            try:
                self.prober.wait(5)
            except subprocess.TimeoutExpired:
                self.prober.kill()
                self.prober.wait()
        self.prober.stdout.close()
        subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.tmp, ignore_errors=True)


class Program:
    """A program whose standard output lines are collected as they come."""

    def __init__(self, argv, env, cwd=None):
        self.argv = argv
        self.proc = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     preexec_fn=_die_with_parent)
        self._lines = []
        self._lock = threading.Lock()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            with self._lock:
                self._lines.append(raw.decode("utf-8", "replace").rstrip("\r\n"))

    def lines(self):
        with self._lock:
            return list(self._lines)

    def wait_line(self, line, timeout=10.0, after=0):
        """Waits until `line` is among the output lines from index `after`
        on; returns its index."""
        def found():
            got = self.lines()
            for i in range(after, len(got)):
                if got[i] == line:
                    return i + 1
            return None
        try:
            return wait_for("output line %r" % line, found, timeout) - 1
        except Failure:
            raise Failure("timed out waiting for output line %r; output so far:\n  %s"
                          % (line, "\n  ".join(self.lines())))

    def wait_exit(self, timeout=10.0):
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("%s did not end; output:\n  %s" % (self.argv[:2],
                                                             "\n  ".join(self.lines())))
        self._reader.join(5)
        return code

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self._reader.join(5)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
