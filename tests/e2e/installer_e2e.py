#!/usr/bin/env python3
"""End-to-end runs of the packaged installer, as a learner meets it: started
from its download folder on a fresh machine, its dialog read and driven, its
message boxes read, the installed files and the registration checked, and the
installed tutor run from it.

Windows build (under Wine, in a fresh prefix of its own, on its own Xvfb):
  installer_e2e.py --wine --installer bin/installerverdel101.exe --winprobe bin/winprobe.exe
                   [--shots DIR] -k SCENARIO NAME=FILE...
Linux build (on its own Xvfb, inside dbus-run-session, read through AT-SPI):
  installer_e2e.py --installer bin/installerverdel101 --atspi tests/e2e/atspi_probe.py
                   [--shots DIR] -k SCENARIO NAME=FILE...

NAME=FILE: the payload files the installer was packed with, in chunk order.
Prints one line per scenario and a closing "N passed, M failed" line."""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

SHIFT = 173  # the exchange files' byte shift (the listening window's side adds it)
IMAGE = 80000
TITLE = "Install Verdel Typing Tutor now"
MESSAGE_TITLE = "Verdel Typing Tutor"
BUTTONS = [
    (1001, "Install (Yes) and Proceed", [5, 5, 190, 25]),
    (1002, "Don't Install (No) and Exit", [5, 35, 190, 25]),
    (1003, "Run The Program (if installed)", [5, 65, 190, 30]),
]
STATUS_ID, STATUS_DU = 1004, [5, 100, 190, 25]


class Failure(Exception):
    pass


def check(cond, message):
    if not cond:
        raise Failure(message)


def wait_for(what, predicate, timeout=20.0):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    raise Failure("timed out waiting for " + what)


def hashz(data):
    return [sum(data[1::2]), sum(data[0::2]), sum(data[2::3])]


def number(v):
    return ("-" if v < 0 else " ") + str(abs(v))


def summary(errors, sums, status):
    return (number(errors) + " ERRORS Detected during checksums.  Try downloading and "
            "installing again.\r  =  hashz  = " + "".join(number(s) for s in sums) +
            " status = " + number(status))


def real_program(data):
    return data[:2] == b"MZ" or data[:4] == b"\x7fELF"


def exit_record():
    record = time.strftime("%H:%M:%S").encode() + b"exit program "
    return bytes((b + SHIFT) % 256 for b in record)


class Display:
    """A private Xvfb; the display number is the one it picked."""

    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], pass_fds=(w,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        digits = b""
        while not digits.endswith(b"\n"):
            chunk = os.read(r, 16)
            if not chunk:
                break
            digits += chunk
        os.close(r)
        self.name = ":" + digits.decode().strip()

    def shot(self, path):
        if not path:
            return
        xwd = subprocess.run(["xwd", "-root", "-silent", "-display", self.name],
                             capture_output=True)
        subprocess.run(["convert", "xwd:-", path], input=xwd.stdout, capture_output=True)

    def close(self):
        self.proc.terminate()
        self.proc.wait()


class InTerminal:
    """A program in an 80x25 tmux session: the installer started from a
    terminal, where the tutor it runs then shows."""

    def __init__(self, command, env, cwd):
        self.socket = "verdel-inst-e2e-%d" % os.getpid()
        self.rcfile = os.path.join(cwd, ".exit-code")
        keep = " ".join("%s=%s" % (k, quote(env[k])) for k in
                        ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "HOME", "VERDEL_HOME",
                         "XDG_DATA_HOME", "PATH") if k in env)
        script = "cd %s && env %s %s; echo $? > %s; sleep 600" % (quote(cwd), keep, command,
                                                                quote(self.rcfile))
        subprocess.run(["tmux", "-L", self.socket, "new-session", "-d", "-s", "t", "-x", "80",
                        "-y", "25", script], check=True, env=env)

    def poll(self):
        return 0 if os.path.exists(self.rcfile) else None

    def screen(self):
        return subprocess.run(["tmux", "-L", self.socket, "capture-pane", "-p", "-t", "t"],
                              capture_output=True, text=True).stdout

    def kill(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)


def quote(s):
    return "'" + s.replace("'", "'\\''") + "'"


class Machine:
    """A fresh machine of one kind: its display, its install directory, and
    the learner's download folder holding the installer file."""

    def __init__(self, opts, installer_bytes):
        self.opts = opts
        self.wine = opts.wine
        self.tmp = tempfile.mkdtemp(prefix="verdel-installer-e2e-")
        self.display = Display()
        self.download = os.path.join(self.tmp, "Downloads")
        os.mkdir(self.download)
        self.installer_name = os.path.basename(opts.installer)
        with open(os.path.join(self.download, self.installer_name), "wb") as f:
            f.write(installer_bytes)
        os.chmod(os.path.join(self.download, self.installer_name), 0o755)
        self.log = open(os.path.join(self.tmp, "programs.log"), "ab")
        self.env = dict(os.environ, DISPLAY=self.display.name)
        if self.wine:
            self.env.update(WINEPREFIX=os.path.join(self.tmp, "wp"), WINEDEBUG="-all",
                            WINEARCH="win64", WINEDLLOVERRIDES="mscoree,mshtml=")
            self.env.pop("VERDEL_HOME", None)
            self.run(["wineboot", "-i"], timeout=240)
            # wineboot's own server ends a few seconds after it; then one that
            # stays up for the whole run (every process's output goes to our
            # log, never to the test runner's pipe).
            self.run(["wineserver", "-w"], timeout=60)
            self.run(["wineserver", "-p"], timeout=30)
            self.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                      "/d", "N", "/f"], timeout=60)
            self.home = os.path.join(self.tmp, "wp", "drive_c", "verdel")
        else:
            self.home = os.path.join(self.tmp, "home", "verdel")
            self.data = os.path.join(self.tmp, "data")
            self.env.update(HOME=os.path.join(self.tmp, "home"), VERDEL_HOME=self.home,
                            XDG_DATA_HOME=self.data)
            os.mkdir(os.path.join(self.tmp, "home"))
            sys.path.insert(0, os.path.dirname(os.path.abspath(opts.atspi)))
            import atspi_probe
            self.atspi = atspi_probe
        self.installer = None
        self.boxes_read = []

    def run(self, args, timeout=60):
        subprocess.run(args, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
                       env=self.env, cwd=self.tmp, timeout=timeout)

    def probe(self, *args, timeout=20):
        out = subprocess.run(["wine", self.opts.winprobe] + list(args), stdin=subprocess.DEVNULL,
                             capture_output=True, env=self.env, cwd=self.tmp, timeout=timeout)
        if out.returncode != 0:
            raise Failure("winprobe %s: exit %d" % (" ".join(args), out.returncode))
        return [json.loads(line) for line in out.stdout.decode().splitlines() if line.strip()]

    def start_installer(self, terminal=False):
        """Starts the installer from its folder, as a double click there does
        (on Linux with terminal: from a terminal opened there)."""
        self.close_terminal()
        if terminal and not self.wine:
            self.installer = InTerminal("./" + self.installer_name, self.env, self.download)
        else:
            command = ["wine", self.installer_name] if self.wine else ["./" + self.installer_name]
            self.installer = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self.log,
                                              stderr=self.log, env=self.env, cwd=self.download)
        self.window()  # waits for it

    def close_terminal(self):
        if isinstance(self.installer, InTerminal):
            self.installer.kill()
            os.unlink(self.installer.rcfile) if os.path.exists(self.installer.rcfile) else None

    def installer_running(self):
        return self.installer is not None and self.installer.poll() is None

    def wait_installer_end(self, timeout=60):
        wait_for("the installer to end", lambda: not self.installer_running(), timeout)

    # ---- the dialog, through winprobe or AT-SPI -------------------------------

    def window(self):
        if self.wine:
            return self.probe("window", TITLE)[0]
        return self.atspi.find_window(TITLE, timeout=60)

    def status_text(self):
        if self.wine:
            return self.probe("text", TITLE, str(STATUS_ID))[0]["text"]
        return self.atspi.texts(self.window())[0]

    def press(self, control_id):
        if self.wine:
            self.probe("press", TITLE, str(control_id))
        else:
            # A mouse click where the accessibility tree says the button is.
            # (Its "click" action would run the handler inside the action's
            # D-Bus call, and a message box it opens could not be read then.)
            name = dict((i, t) for i, t, _ in BUTTONS)[control_id]
            button = self.atspi.poll("button %r" % name, lambda: next(
                (b for b in self.atspi.buttons(self.window()) if b.name == name), None))
            box = button.queryComponent().getExtents(0)  # screen coordinates
            subprocess.run(["xdotool", "mousemove", str(box.x + box.width // 2),
                            str(box.y + box.height // 2), "click", "1"], env=self.env,
                           check=True, timeout=20)

    def read_message(self):
        """The text of the next message box (one not read before: the next
        may come up with the same title as soon as the last is gone)."""
        def next_box():
            hwnd = self.probe("--timeout", "40000", "wait", MESSAGE_TITLE, timeout=60)[0]["hwnd"]
            return hwnd if hwnd not in self.boxes_read else None
        self.boxes_read.append(wait_for("a new message box", next_box, 40))
        return self.probe("msgbox", MESSAGE_TITLE)[0]["text"]

    def type_into_status(self, text):
        """Clicks into the status box and replaces its content by typing, as
        a learner could."""
        if self.wine:
            w = self.window()
            status = [c for c in self.probe("controls", TITLE) if c["id"] == STATUS_ID][0]
            left, top, width, height = w["rect_px"]
            border = (width - w["client_px"][0]) // 2
            x0, y0 = left + border, top + height - w["client_px"][1] - border
            x = x0 + status["px"][0] + status["px"][2] // 2
            y = y0 + status["px"][1] + status["px"][3] // 2
        else:
            box = self.atspi.poll("the status box", lambda: next(
                (a for a in self.atspi.walk(self.window()) if a.getRoleName() == "text"), None))
            e = box.queryComponent().getExtents(0)
            x, y = e.x + e.width // 2, e.y + e.height // 2
        xdo = lambda *a: subprocess.run(["xdotool"] + list(a), env=self.env, check=True,
                                        timeout=20)
        xdo("mousemove", str(x), str(y), "click", "1")
        time.sleep(0.3)
        xdo("key", "ctrl+a")
        xdo("type", "--delay", "20", text)
        time.sleep(0.3)

    def take_message(self):
        """Waits for the installer's next message box, reads it and presses OK."""
        if self.wine:
            text = self.read_message()
            self.probe("ok", MESSAGE_TITLE)
            return text
        alert = self.atspi.find_alert(MESSAGE_TITLE, timeout=40)
        text = self.atspi.alert_text(alert)
        self.atspi.alert_ok(alert)
        self.wait_defunct(alert)
        return text

    def wait_defunct(self, acc):
        """Waits until an accessible object is gone (the next message box may
        come up with the same name at once)."""
        import pyatspi

        def gone():
            try:
                return acc.getState().contains(pyatspi.STATE_DEFUNCT) or acc.parent is None
            except Exception:
                return True
        wait_for("the message box to close", gone, 20)

    def check_dialog(self):
        if self.wine:
            w = self.window()
            style = int(w["style"], 16)
            check(w["title"] == TITLE, "dialog title %r" % w["title"])
            check(style & 0x80C00080 == 0x80C00080, "not a pop-up with caption and modal frame")
            check(style & 0x00080000 == 0, "the dialog has a system menu")
            check(w["client_du"] == [201, 129], "dialog size %r" % w["client_du"])
            check((w["font"]["face"], w["font"]["points"]) == ("MS Sans Serif", 8),
                  "dialog font %r" % w["font"])
            controls = self.probe("controls", TITLE)
            check([c["id"] for c in controls] == [1001, 1002, 1003, 1004],
                  "control order %r" % [c["id"] for c in controls])
            for (cid, text, du), c in zip(BUTTONS, controls):
                check(c["text"] == text and c["du"] == du and c["visible"],
                      "button %d: %r" % (cid, c))
                check(int(c["style"], 16) & 0xFFFF000F == 0x50010000, "button %d style" % cid)
            status = controls[3]
            check(status["class"] == "Edit" and status["du"] == STATUS_DU, "status box %r" % status)
            check(int(status["style"], 16) & 0xFFFF00FF == 0x50010080, "status box style")
            check(int(status["exstyle"], 16) & 0x200, "status box has no client edge")
            check((status["font"]["face"], status["font"]["points"], status["font"]["weight"]) ==
                  ("MS Sans Serif", 24, 400), "status font %r" % status["font"])
        else:
            d = self.atspi.describe(self.window())
            check(d["buttons"] == [t for _, t, _ in BUTTONS], "buttons %r" % d["buttons"])
            check(len(d["texts"]) == 1, "status boxes %r" % d["texts"])

    # ---- the installed system ---------------------------------------------

    def installed(self):
        try:
            return sorted(os.listdir(self.home))
        except OSError:
            return None

    def registered(self):
        if self.wine:
            out = subprocess.run(["wine", "reg", "query", "HKCR\\XSpeechKit.XKitSR.6\\CLSID"],
                                 stdin=subprocess.DEVNULL, capture_output=True, env=self.env,
                                 timeout=60)
            return out.returncode == 0
        store = os.path.join(self.data, "verdel", "com")
        return os.path.isdir(store) and any(os.scandir(store))

    def listener_engines(self):
        """Starts the installed listening window and reads its engine list."""
        title = "Verdel Listening Window"
        if self.wine:
            listener = subprocess.Popen(["wine", "c:\\verdel\\hearken.exe"],
                                        stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=self.log, env=self.env, cwd=self.tmp)
            try:
                return self.probe("list", title, "105", timeout=60)[0]["items"]
            finally:
                self.probe("close", title)
                listener.wait(30)
        listener = subprocess.Popen([os.path.join(self.home, "hearken")], stdin=subprocess.DEVNULL,
                                    stdout=self.log, stderr=self.log, env=self.env, cwd=self.tmp)
        try:
            window = self.atspi.find_window(title, timeout=30)
            return [e["name"] for e in self.atspi.entries(self.atspi.lists(window)[0])]
        finally:
            listener.kill()
            listener.wait(30)

    def end_tutor(self):
        """Says "exit program" through the exchange file, as the listening
        window would, until the tutor has taken it."""
        heard = os.path.join(self.home, "heard.txt")

        def ended():
            # The tutor empties the file when it has taken a phrase.
            if not os.path.exists(heard) or os.path.getsize(heard) == 0:
                with open(heard, "wb") as f:
                    f.write(exit_record())
            return not self.installer_running()

        wait_for("the tutor (and then the installer) to end", ended, 90)

    def programs_running(self, name):
        """Ids of running programs whose file is the installed one of that name."""
        path = os.path.join(self.home, name)
        found = []
        for pid in os.listdir("/proc"):
            try:
                if pid.isdigit() and os.readlink("/proc/%s/exe" % pid) == path:
                    found.append(int(pid))
            except OSError:
                pass
        return found

    def windows_named(self, pattern):
        out = subprocess.run(["xdotool", "search", "--name", pattern], capture_output=True,
                             text=True, env=self.env)
        return out.stdout.split()

    def close(self):
        if self.installer_running():
            self.installer.kill()
        self.close_terminal()
        if self.wine:
            self.run(["wineserver", "-k"], timeout=30)  # this prefix's processes only
        else:
            # Programs the installed system started (the tutor starts the
            # listening window, which outlives it): each by its id, found by
            # its file in this run's own folder.
            for pid in os.listdir("/proc"):
                try:
                    if pid.isdigit() and os.readlink("/proc/%s/exe" % pid).startswith(self.tmp):
                        os.kill(int(pid), 9)
                except OSError:
                    pass
        self.display.close()
        self.log.close()
        shutil.rmtree(self.tmp, ignore_errors=True)


def payload_files(opts):
    files = []
    for arg in opts.payload:
        name, _, path = arg.partition("=")
        files.append((name, open(path, "rb").read()))
    return files


def packed(files):
    image = b"\0" * IMAGE
    return image + b"".join(data for _, data in files)


def shot(opts, m, name):
    if opts.shots:
        os.makedirs(opts.shots, exist_ok=True)
        m.display.shot(os.path.join(opts.shots, ("wine-" if opts.wine else "linux-") + name))


def scenario_fresh_install(opts):
    files = payload_files(opts)
    installer = open(opts.installer, "rb").read()
    check(installer[IMAGE:] == packed(files)[IMAGE:], "the installer does not carry the payload")
    m = Machine(opts, installer)
    try:
        # First start: nothing installed; the install directory is made at once.
        m.start_installer()
        m.check_dialog()
        check(m.status_text() == "not installed", "status %r" % m.status_text())
        check(m.installed() == [], "install directory after start: %r" % m.installed())
        shot(opts, m, "first-start.png")
        # Run while not installed: nothing happens, the dialog stays; also
        # when the learner has typed the ready text into the status box (the
        # program goes by what it decided at start-up, not by the box).
        m.press(1003)
        time.sleep(1.5)
        check(m.installer_running() and m.window(), "run closed the dialog while not installed")
        m.type_into_status("v1.01 ready")
        check(m.status_text() == "v1.01 ready", "typing into the status box: %r" % m.status_text())
        m.press(1003)
        time.sleep(1.5)
        check(m.installer_running() and m.window(), "run went by the status box's content")
        check(m.installed() == [], "run started something: %r" % m.installed())
        m.press(1002)
        m.wait_installer_end(20)
        check(m.installed() == [], "files after Don't Install: %r" % m.installed())

        # Second start: install.
        m.start_installer()
        m.press(1001)
        m.wait_installer_end(120)
        expected = sorted(name for name, _ in files)
        check(m.installed() == expected, "installed %r, expected %r" % (m.installed(), expected))
        for name, data in files:
            with open(os.path.join(m.home, name), "rb") as f:
                check(f.read() == data, "%s differs from the build's file" % name)
            if not m.wine and real_program(data):
                check(os.access(os.path.join(m.home, name), os.X_OK), "%s not executable" % name)
        component = files[3][1]
        if real_program(component):
            check(m.registered(), "the speech component was not registered")
            if real_program(files[1][1]):
                engines = m.listener_engines()
                check(engines, "the installed listening window lists no engine")
                print("  the listening window lists %d engine(s)" % len(engines))
        else:
            print("  (the component is a placeholder: registration not checked)")

        # Third start: ready; run starts the tutor and waits for it.
        m.start_installer(terminal=True)
        check(m.status_text() == "v1.01 ready", "status %r" % m.status_text())
        m.press(1003)
        # The tutor's greeting to the listening window shows it is running.
        wait_for("the tutor to start", lambda: os.path.exists(os.path.join(m.home, "speak.txt"))
                 or os.path.exists(os.path.join(m.home, "heard.txt")), 30)
        check(m.installer_running(), "the installer did not wait for the tutor")
        if not m.wine:  # in the installer's own terminal
            wait_for("the tutor on the installer's terminal",
                     lambda: "Orvane" in m.installer.screen() or "orvane" in m.installer.screen(),
                     30)
        shot(opts, m, "tutor-running.png")
        m.end_tutor()
        if not m.wine:
            # Fourth start, without a terminal (as from a file manager): the
            # tutor runs in a terminal emulator's window, and the installer
            # waits for it.
            m.start_installer()
            m.press(1003)
            wait_for("the tutor to run", lambda: m.programs_running("verdel101"), 30)
            wait_for("a terminal emulator's window for the tutor",
                     lambda: m.windows_named("verdel101"), 30)
            check(m.installer_running(), "the installer did not wait for the tutor")
            time.sleep(1)
            shot(opts, m, "tutor-in-terminal-emulator.png")
            m.end_tutor()
            check(not m.programs_running("verdel101"), "the tutor still runs")
        return "installed, registered, ran the tutor"
    finally:
        m.close()


def scenario_altered_book(opts):
    files = payload_files(opts)
    installer = bytearray(open(opts.installer, "rb").read())
    book_at = IMAGE + len(files[0][1]) + len(files[1][1])
    installer[book_at + len(files[2][1]) // 2] ^= 0x01
    m = Machine(opts, bytes(installer))
    try:
        m.start_installer()
        m.press(1001)
        first = m.take_message()
        check(first == number(len(files[2][1])) + " is len of error data.", "message %r" % first)
        last_sums = hashz(files[-1][1])
        expected = summary(1, last_sums, len(files))
        if m.wine:
            second = m.read_message()
            shot(opts, m, "altered-book-summary.png")
            m.probe("ok", MESSAGE_TITLE)
        else:
            alert = m.atspi.find_alert(MESSAGE_TITLE, timeout=40)
            second = m.atspi.alert_text(alert)
            shot(opts, m, "altered-book-summary.png")
            m.atspi.alert_ok(alert)
        dismissed = time.time()
        check(second == expected, "summary %r, expected %r" % (second, expected))
        # The ten-second pause, then the installer ends without registering.
        m.wait_installer_end(60)
        check(time.time() - dismissed >= 9.0, "no pause after the summary")
        expected_files = sorted(name for k, (name, _) in enumerate(files) if k != 2)
        check(m.installed() == expected_files, "installed %r" % m.installed())
        check(not m.registered(), "registered although a chunk failed")
        return "two messages, the book not written, no registration"
    finally:
        m.close()


SCENARIOS = {
    "fresh_install": scenario_fresh_install,
    "altered_book": scenario_altered_book,
}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--installer", required=True)
    ap.add_argument("--wine", action="store_true")
    ap.add_argument("--winprobe")
    ap.add_argument("--atspi")
    ap.add_argument("--shots")
    ap.add_argument("-k", dest="only", action="append")
    ap.add_argument("payload", nargs="+")
    opts = ap.parse_args()
    for attr in ("installer", "winprobe", "atspi"):
        if getattr(opts, attr):
            setattr(opts, attr, os.path.abspath(getattr(opts, attr)))
    passed = failed = 0
    for name, fn in SCENARIOS.items():
        if opts.only and name not in opts.only:
            continue
        try:
            note = fn(opts)
            print("PASS %s: %s" % (name, note))
            passed += 1
        except Exception:
            print("FAIL %s" % name)
            traceback.print_exc(file=sys.stdout)
            failed += 1
        sys.stdout.flush()
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
