#!/usr/bin/env python3
"""End-to-end runs of the listening window `hearken` with the stand-in speech
component: the Windows build under Wine on its own Xvfb display, read and
driven through winprobe; the Linux build under Xvfb through the accessibility
tree (run inside dbus-run-session), and headless; and the tutor and the
window together.

  hearken_e2e.py --exe HEARKEN --testkit LIB [--nofactory LIB] [--wine
      --winprobe EXE | --atspi atspi_probe.py --xclose XCLOSE --regsvr TOOL
      --comlib LIB] [--tutor EXE --book BOOK] [--shots DIR] -k SCENARIO

Prints one line per scenario and a closing "N passed, M failed" line."""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop  # noqa: E402  (private displays, Wine sessions, D-Bus sessions)
import tutor_e2e  # noqa: E402  (the tutor in tmux)

SHIFT = 173
TITLE = "Verdel Listening Window"
PROMPT = "Press the start listening button to recognize, and the stop listening button to stop."
GOODBYE = "I'm shutting down now. Good bye."
# More entries than the list shows at once, so it scrolls.
ENGINES = ["Alpha", "Beta", "Beta", "Gamma", "Delta", "Epsilon", "Zeta", "Eta", "Theta", "Iota"]
SYNC_TAIL = ["I4:0", "I4:3", "I4:-1", "I4:0", "I4:4", "I4:-1", "I4:1"]


Failure = desktop.Failure


class Xvfb(desktop.Xvfb):
    """A private X display (the speech component's driver uses it too)."""

    def stop(self):
        self.close()


def check(cond, message):
    if not cond:
        raise Failure(message)


def wait_for(what, predicate, timeout=20.0, detail=None):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    extra = ("\n" + detail()) if detail else ""
    raise Failure("timed out waiting for " + what + extra)


def winpath(path):
    return "Z:" + path.replace("/", "\\")


class Result:
    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr


def run_to_files(cmd, env, scratch, timeout=60):
    """Runs a command with its output in files, not pipes: a Wine program
    may start a service (the desktop's explorer) that inherits its handles
    and would hold a pipe open long after the program has ended."""
    out = tempfile.TemporaryFile(dir=scratch)
    err = tempfile.TemporaryFile(dir=scratch)
    try:
        code = subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                              timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return Result(code, out.read().decode("utf-8", "replace"),
                      err.read().decode("utf-8", "replace"))
    finally:
        out.close()
        err.close()


# ---- the stand-in component ------------------------------------------------


class Kit:
    """The stand-in component's log, script and inbox in a scratch folder."""

    def __init__(self, root, wine):
        self.dir = os.path.join(root, "kit")
        self.inbox = os.path.join(self.dir, "inbox")
        os.makedirs(self.inbox)
        self.log = os.path.join(self.dir, "calls.log")
        self.script_path = os.path.join(self.dir, "script.txt")
        self.wine = wine
        self.script("engines=%s\ncurrent=Beta\nplayback-ms=700\n" % "|".join(ENGINES))

    def env(self):
        p = winpath if self.wine else (lambda x: x)
        return {"VERDEL_TESTKIT_LOG": p(self.log), "VERDEL_TESTKIT_SCRIPT": p(self.script_path),
                "VERDEL_TESTKIT_INBOX": p(self.inbox)}

    def script(self, text):
        with open(self.script_path, "w") as f:
            f.write(text)

    def lines(self):
        try:
            with open(self.log, "rb") as f:
                raw = f.read().decode("utf-8", "replace")
        except OSError:
            return []
        return [line.split("\t") for line in raw.split("\n") if line]

    def text(self):
        return "\n".join(" ".join(line) for line in self.lines())

    def find(self, *prefix):
        return [line for line in self.lines() if line[:len(prefix)] == list(prefix)]

    def wait(self, *prefix, timeout=20.0, count=1):
        return wait_for("%r in the component's log" % (prefix,),
                        lambda: len(self.find(*prefix)) >= count and self.find(*prefix),
                        timeout, self.text)

    def drop(self, name, content):
        temp = os.path.join(self.inbox, name + ".part")
        with open(temp, "wb") as f:
            f.write(content.encode("utf-8"))
        os.rename(temp, os.path.join(self.inbox, name))

    def playbacks(self):
        """The texts handed to StartPlayback, each with its other arguments."""
        return [(line[5][len("BSTR:"):], line[6:]) for line in self.find("tts", "StartPlayback")
                if len(line) > 5]


# ---- one install directory with its exchange files -----------------------------


class Home:
    def __init__(self, root):
        self.dir = os.path.join(root, "home")
        os.makedirs(self.dir)
        self.speak = os.path.join(self.dir, "speak.txt")
        self.heard = os.path.join(self.dir, "heard.txt")

    def request(self, text):
        record = time.strftime("%H:%M:%S").encode() + text.encode("cp1252")
        temp = os.path.join(self.dir, ".speak.part")
        with open(temp, "wb") as f:
            f.write(bytes((b - SHIFT) % 256 for b in record))
        os.rename(temp, self.speak)

    def heard_record(self):
        try:
            with open(self.heard, "rb") as f:
                data = f.read()
        except OSError:
            return None
        return bytes((b - SHIFT) % 256 for b in data).decode("cp1252")


# ---- one scenario's world ------------------------------------------------------


class World:
    """A scratch folder, an install directory, the component's files, and for
    window runs a display of its own. Under Wine a private session (a linked
    copy of the prepared prefix with its own server bound to this display)
    holds the registration; on Linux a registration store of its own."""

    def __init__(self, opts, display=True, register=True, library=None):
        self.opts = opts
        self.root = tempfile.mkdtemp(prefix="verdel-hearken-")
        self.home = Home(self.root)
        self.kit = Kit(self.root, opts.wine)
        self.procs = []
        self.xvfb = self.wine = None
        try:
            self.xvfb = Xvfb() if display else None
            if opts.wine:
                tools = os.path.dirname(opts.winprobe or opts.exe)
                self.wine = desktop.WineSession(self.xvfb, tools)
                self.env = dict(self.wine.env)
            elif display:
                self.env = dict(self.xvfb.env)
            else:
                self.env = dict(os.environ)
                self.env.pop("DISPLAY", None)
                self.env.pop("WAYLAND_DISPLAY", None)
            self.env.update(self.kit.env())
            self.env["VERDEL_HOME"] = winpath(self.home.dir) if opts.wine else self.home.dir
            if not opts.wine:
                self.env["XDG_DATA_HOME"] = os.path.join(self.root, "xdg")
            if opts.wine:
                # The prefix copied may hold the other tests' registration.
                self.unregister_all()
            if register:
                self.register(library or opts.testkit)
        except BaseException:
            self.close()
            raise

    # registration
    def regsvr(self, library, unregister=False):
        if self.opts.wine:
            cmd = ["wine", "regsvr32", "/s"] + (["/u"] if unregister else []) + [winpath(library)]
        else:
            cmd = [self.opts.regsvr, "-s"] + (["-u"] if unregister else []) + [library]
        return run_to_files(cmd, self.env, self.root)

    def register(self, library):
        r = self.regsvr(library)
        check(r.returncode == 0, "registration of %s failed: %s %s" % (library, r.stdout, r.stderr))

    def unregister_all(self):
        for lib in (self.opts.testkit, self.opts.nofactory):
            if lib:
                self.regsvr(lib, unregister=True)

    def copy_of(self, library):
        """A copy of a library in the scratch folder (to register and remove)."""
        target = os.path.join(self.root, os.path.basename(library))
        shutil.copy(library, target)
        return target

    # programs
    def start_hearken(self, exe=None):
        exe = exe or self.opts.exe
        cmd = ["wine", exe] if self.opts.wine else [exe]
        # Output into files (see run_to_files); stderr is read by the tests.
        stderr_path = os.path.join(self.root, "hearken-stderr-%d.txt" % len(self.procs))
        with open(stderr_path, "wb") as err:
            proc = subprocess.Popen(cmd, env=self.env, cwd=self.root, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=err,
                                    preexec_fn=desktop._die_with_parent)
        proc.stderr_path = stderr_path
        self.procs.append(proc)
        return proc

    def close(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        # A window the tutor started from this run's install directory, left
        # running by a failed run, is found by that directory (unique to the
        # run) and ended by its process id.
        kill_processes_mentioning((self.root, winpath(self.root)))
        if self.wine:
            self.wine.close()
        if self.xvfb:
            self.xvfb.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def shot(self, name):
        if self.opts.shots and self.xvfb:
            os.makedirs(self.opts.shots, exist_ok=True)
            self.xvfb.screenshot(os.path.join(self.opts.shots, name))


# ---- reading and driving the window -------------------------------------------


class WinWindow:
    """The Windows dialog, through winprobe (ids as the dialog has them)."""

    def __init__(self, world):
        self.world = world

    def probe(self, *args):
        session = getattr(self.world, "wine", None)
        if session is not None:
            return session.probe(*args, timeout=15.0)
        # A world without a session of its own (the shared prefix): one
        # probe process per question.
        r = run_to_files(["wine", self.world.opts.winprobe, "--timeout", "15000"] + list(args),
                         self.world.env, self.world.root)
        check(r.returncode == 0, "winprobe %s: %s%s" % (" ".join(args), r.stdout, r.stderr))
        return [json.loads(line) for line in r.stdout.splitlines() if line.strip()]

    def wait(self):
        return self.probe("wait", TITLE)[0]

    def wait_gone(self):
        return self.probe("gone", TITLE)

    def entries(self):
        """The list's texts in order, and the index selected (-1: none)."""
        listing = self.probe("list", TITLE, "105")[0]
        return listing["items"], listing["selected"]

    def start(self):
        self.probe("click", TITLE, "103")

    def stop(self):
        self.probe("click", TITLE, "108")

    def choose(self, index):
        self.probe("select", TITLE, "105", str(index))

    def close(self):
        self.probe("close", TITLE)

    def message_box(self):
        """Reads the text of the next message box and presses its OK."""
        # A message box without a caption of its own has the system's. The
        # one answered before may still be going away: wait for a new one.
        seen = getattr(self, "answered", set())

        def new_box():
            boxes = [w for w in self.probe("windows") if w["title"] == "Error" and w["visible"]]
            if not boxes or any(w["hwnd"] in seen for w in boxes):
                return None
            return boxes[0]
        box = wait_for("a message box", new_box, 15)
        text = self.probe("msgbox", "Error")[0]["text"]
        self.probe("ok", "Error")
        self.answered = seen | {box["hwnd"]}
        return text


class GtkWindow:
    """The GTK window, through the accessibility tree."""

    def __init__(self, world):
        self.world = world

    def probe(self, *args, timeout=15):
        r = run_to_files(["/usr/bin/python3", self.world.opts.atspi, "--timeout", str(timeout)] +
                         list(args), self.world.env, self.world.root)
        check(r.returncode == 0, "atspi_probe %s: %s%s" % (" ".join(args), r.stdout, r.stderr))
        return [json.loads(line) for line in r.stdout.splitlines() if line.strip()]

    def wait(self):
        return self.probe("wait", TITLE)[0]

    def wait_gone(self):
        return self.probe("gone", TITLE)

    def describe(self):
        return self.probe("describe", TITLE)[0]

    def entries(self):
        d = self.describe()
        items = d["lists"][0] if d["lists"] else []
        selected = [i for i, e in enumerate(items) if e["selected"]]
        return [e["name"] for e in items], (selected[0] if selected else -1)

    def start(self):
        self.probe("press", TITLE, "Start Listening")

    def stop(self):
        self.probe("press", TITLE, "Stop Listening")

    def choose(self, index):
        self.probe("select", TITLE, str(index))

    def close(self):
        # As a window manager closes it: WM_DELETE_WINDOW to the frame.
        wid = subprocess.run(["xdotool", "search", "--name", "^%s$" % TITLE], env=self.world.env,
                             capture_output=True, text=True).stdout.split()
        check(wid, "no X window named %r" % TITLE)
        subprocess.run([self.world.opts.xclose, wid[0]], env=self.world.env, check=True)

    def message_box(self):
        box = self.probe("alert")[0]
        self.probe("alert-ok")
        return box["text"]


def window_of(world):
    return WinWindow(world) if world.opts.wine else GtkWindow(world)


def wait_exit(proc, timeout=20.0):
    wait_for("hearken to end", lambda: proc.poll() is not None, timeout)
    return proc.returncode


# ---- scenarios ---------------------------------------------------------------


def scenario_startup(opts):
    """Start-up order, the dialog read back, the current engine selected
    (the first of two equal names), and a screenshot."""
    with World(opts) as world:
        hearken = world.start_hearken()
        win = window_of(world)
        win.wait()
        kit = world.kit
        kit.wait("tts", "StartPlayback")
        calls = [" ".join(line[:2]) for line in kit.lines()]
        order = ["tts create", "sr create", "tts GetResourceCount", "sr DefineResource",
                 "sr RegisterCallback", "tts GetStringProperty", "sr FindConnectionPoint",
                 "sr Advise", "tts StartPlayback"]
        at = [calls.index(c) for c in order]
        check(at == sorted(at), "start-up calls out of order:\n" + kit.text())
        check(kit.playbacks()[0] == (PROMPT, []), "prompt: %r" % kit.playbacks()[:1])
        items, selected = win.entries()
        check(items == ENGINES, "entries %r" % items)
        check(selected == 1, "selected %r, expected the first Beta" % selected)
        if opts.wine:
            check_win32_layout(win)
        else:
            d = win.describe()
            check(d["buttons"] == ["Start Listening", "Stop Listening"],
                  "buttons %r" % d["buttons"])
        world.shot("hearken-%s.png" % ("wine" if opts.wine else "gtk"))
        check(not kit.find("tts", "SetStringProperty"), "an engine was set at start-up")
        win.close()
        wait_exit(hearken)


def check_win32_layout(win):
    window = win.probe("window", TITLE)[0]
    check(window["title"] == TITLE, "title %r" % window["title"])
    style = int(window["style"], 16)
    for name, bit in (("WS_POPUP", 0x80000000), ("WS_CAPTION", 0x00C00000),
                      ("WS_SYSMENU", 0x00080000), ("DS_MODALFRAME", 0x80),
                      ("WS_VISIBLE", 0x10000000)):
        check(style & bit == bit, "window style 0x%08X lacks %s" % (style, name))
    check(int(window["exstyle"], 16) & 0x40000, "no WS_EX_APPWINDOW")
    font = window.get("font") or {}
    check(font.get("face") == "MS Sans Serif" and font.get("points") == 8,
          "dialog font %r" % font)
    controls = win.probe("controls", TITLE)
    check([c["id"] for c in controls] == [105, 103, 108], "controls %r" % controls)
    expect = {105: ("ListBox", "", [0, 0, 160, 56], 0x00200000 | 0x00010000 | 0x100 | 0x1),
              103: ("Button", "Start Listening", [0, 57, 68, 14], 0x00010000),
              108: ("Button", "Stop Listening", [97, 57, 63, 14], 0x00010000)}
    for c in controls:
        cls, text, du, bits = expect[c["id"]]
        check(c["class"].lower() == cls.lower(), "control %d class %r" % (c["id"], c["class"]))
        check(c["text"] == text, "control %d text %r" % (c["id"], c["text"]))
        check(c["du"] == du, "control %d at %r dialog units, expected %r" % (c["id"], c["du"], du))
        check(int(c["style"], 16) & bits == bits, "control %d style %s" % (c["id"], c["style"]))
    check(int(controls[0]["style"], 16) & 0x00800000 == 0, "the list has a border")


def scenario_selection_cases(opts):
    """No selection when the current engine is absent or empty, or the list
    is empty; choosing an entry later sets the engine."""
    cases = [("engines=Alpha|Beta\ncurrent=Omega\n", ["Alpha", "Beta"]),
             ("engines=Alpha|Beta\ncurrent=\n", ["Alpha", "Beta"]),
             ("engines=\ncurrent=Beta\n", [])]
    for script, items in cases:
        with World(opts) as world:
            world.kit.script(script)
            hearken = world.start_hearken()
            win = window_of(world)
            win.wait()
            world.kit.wait("tts", "StartPlayback")
            got, selected = win.entries()
            check(got == items and selected == -1,
                  "%r: entries %r, selected %r" % (script, got, selected))
            if items:
                win.choose(1)
                world.kit.wait("tts", "SetStringProperty")
                check(world.kit.find("tts", "SetStringProperty")[0][5:] ==
                      ["I4:5", "BSTR:Beta"], world.kit.text())
            win.close()
            wait_exit(hearken)


def scenario_relay(opts):
    """Start and Stop, a recognition into heard.txt, a request out of
    speak.txt, an engine chosen, and the goodbye when closed."""
    with World(opts) as world:
        kit, home = world.kit, world.home
        hearken = world.start_hearken()
        win = window_of(world)
        win.wait()
        kit.wait("tts", "StartPlayback")

        win.start()
        enabled = kit.wait("sr", "EnableResource")[0]
        check(enabled[2:] == ["9", "method", "call", "I4:15", "I4:4711"], "Enable: %r" % enabled)

        kit.drop("a.txt", "chapter 12 ")
        record = wait_for("heard.txt", home.heard_record, 10)
        check(record[8:] == "chapter 12 " and record[2] == ":" and record[5] == ":",
              "heard.txt holds %r" % record)

        home.request("The next paragraph is  12 Of the text.")
        wait_for("the request to be spoken",
                 lambda: any(t == "The next paragraph is  12 Of the text."
                             for t, _ in kit.playbacks()), 5, kit.text)
        check(not os.path.exists(home.speak), "speak.txt was not deleted")
        check(kit.playbacks()[-1][1] == [], "a request is spoken without waiting")

        win.choose(0)
        chosen = kit.wait("tts", "SetStringProperty")[0]
        check(chosen[5:] == ["I4:5", "BSTR:Alpha"], "SetStringProperty %r" % chosen)

        win.stop()
        disabled = kit.wait("sr", "DisableResource")[0]
        check(disabled[5:] == ["I4:15", "I4:4711"], "Disable: %r" % disabled)

        if opts.wine:
            # Alt+F4 as the user presses it.
            subprocess.run(["xdotool", "search", "--name", "^%s$" % TITLE, "windowfocus",
                            "--sync", "key", "alt+F4"], env=world.env, capture_output=True)
        else:
            win.close()
        check_goodbye(kit, hearken)


def check_goodbye(kit, hearken):
    """The long-form goodbye spoken to its end, then the synthesiser
    released, before the process ends."""
    wait_exit(hearken)
    lines = [" ".join(line[:2]) for line in kit.lines()]
    last = kit.playbacks()[-1]
    check(last == (GOODBYE, SYNC_TAIL), "last playback %r" % (last,))
    check(lines[-2:] == ["tts PlaybackEnd", "tts release"],
          "after the goodbye: %r" % lines[-4:])
    check(lines.index("sr Unadvise") < len(lines) - 3, "the sink was not disconnected first")


def scenario_request_waiting_at_start(opts):
    """A request already waiting is spoken right after the prompt; the same
    record again is deleted unspoken."""
    with World(opts) as world:
        kit, home = world.kit, world.home
        home.request("Loading verdel typing tutor application")
        hearken = world.start_hearken()
        window_of(world).wait()
        wait_for("the waiting request", lambda: len(kit.playbacks()) >= 2, 10, kit.text)
        check([t for t, _ in kit.playbacks()[:2]] ==
              [PROMPT, "Loading verdel typing tutor application"], kit.text())
        if opts.wine:
            window_of(world).close()
            wait_exit(hearken)
        else:
            # A close signal ends the window the way closing it does.
            hearken.send_signal(signal.SIGTERM)
            check_goodbye(kit, hearken)


def scenario_component_missing(opts):
    """Not registered: the message twice, then an empty window; requests are
    taken unspoken; closing ends it."""
    missing_cases(opts, lambda world: None)


def scenario_library_missing(opts):
    """Registered, but its library has gone."""
    def setup(world):
        copy = world.copy_of(opts.testkit)
        world.register(copy)
        os.remove(copy)
    missing_cases(opts, setup)


def scenario_no_factory(opts):
    """Registered to a library without DllGetClassObject."""
    def setup(world):
        world.register(opts.nofactory)
    missing_cases(opts, setup)


def missing_cases(opts, setup):
    with World(opts, register=False) as world:
        setup(world)
        hearken = world.start_hearken()
        win = window_of(world)
        texts = [win.message_box(), win.message_box()]
        check(texts == ["SpeechKit not installed"] * 2, "message boxes: %r" % texts)
        win.wait()
        items, selected = win.entries()
        check(items == [] and selected == -1, "entries %r" % items)
        world.home.request("Hello and welcome.")
        wait_for("the request to be taken", lambda: not os.path.exists(world.home.speak), 5)
        win.start()
        win.stop()
        win.close()
        check(wait_exit(hearken) == 0, "exit code %r" % hearken.returncode)
        check(not world.kit.find("tts", "StartPlayback"), "something was spoken")


def scenario_headless(opts):
    """No display: one line on stderr, listening at once, the relay, and a
    close signal ends it with the goodbye."""
    with World(opts, display=False) as world:
        kit, home = world.kit, world.home
        hearken = world.start_hearken()
        kit.wait("sr", "EnableResource")
        kit.drop("a.txt", "help ")
        record = wait_for("heard.txt", home.heard_record, 10)
        check(record[8:] == "help ", "heard.txt holds %r" % record)
        home.request("Hello and welcome.")
        wait_for("the request to be spoken",
                 lambda: any(t == "Hello and welcome." for t, _ in kit.playbacks()), 5, kit.text)
        hearken.send_signal(signal.SIGTERM)
        check_goodbye(kit, hearken)
        err = open(hearken.stderr_path, encoding="utf-8", errors="replace").read()
        check(len(err.splitlines()) == 1 and "display" in err, "stderr: %r" % err)
        check(hearken.returncode == 0, "exit code %r" % hearken.returncode)


class TutorRun:
    """The tutor in tmux with an install directory holding the window (and
    on Linux our COM library), started with no window running."""

    def __init__(self, world):
        opts, home = world.opts, world.home
        self.name = "hearken.exe" if opts.wine else "hearken"
        shutil.copy(opts.exe, os.path.join(home.dir, self.name))
        if opts.comlib:
            shutil.copy(opts.comlib, os.path.join(home.dir, os.path.basename(opts.comlib)))
        shutil.copy(opts.book, os.path.join(home.dir, "orvane.txt"))
        env = {k: world.env[k] for k in ("VERDEL_HOME", "DISPLAY", "XDG_DATA_HOME", "WINEPREFIX",
                                          "WINEDEBUG", "WINEARCH", "WINEDLLOVERRIDES")
               if k in world.env}
        env.update(world.kit.env())
        command = ("wine " if opts.wine else "") + tutor_e2e.shellquote(opts.tutor)
        self.term = tutor_e2e.Terminal(command, env, world.root)

    def screen(self):
        return "\n".join(self.term.screen())

    def wait_text(self, text, timeout):
        wait_for(repr(text), lambda: any(text in r for r in self.term.screen()), timeout,
                 self.screen)

    def wait_prompt(self, word="", timeout=60):
        wait_for("the typing prompt",
                 lambda: self.term.row(4).startswith("Please type: " + word), timeout,
                 self.screen)

    def close(self):
        self.term.close()


def start_tutor_and_window(world):
    """The tutor finds no window, says so, and starts hearken itself."""
    tutor = TutorRun(world)
    tutor.wait_text("Starting Speech Component...", 30)
    win = window_of(world)
    win.wait()
    return tutor, win


def scenario_tutor_and_window(opts):
    """The tutor starts hearken from the install directory, its announcements
    reach StartPlayback, "chapter 12 " heard by the component moves the
    lesson to paragraph 12; the tutor closed, the window keeps relaying."""
    with World(opts) as world:
        kit, home = world.kit, world.home
        tutor, win = start_tutor_and_window(world)
        try:
            win.start()
            kit.wait("sr", "EnableResource")
            wait_for("the first announcement",
                     lambda: any(t.startswith("The next paragraph is ") for t, _ in kit.playbacks()),
                     60, kit.text)
            tutor.wait_prompt()
            kit.drop("a.txt", "chapter 12 ")
            wait_for("paragraph 12",
                     lambda: (tutor.term.row(2) + " " * 80)[59:].startswith(" 12 0"), 30,
                     tutor.screen)
            wait_for("the announcement of paragraph 12",
                     lambda: any(t.startswith("The next paragraph is  12 Of the text.")
                                 for t, _ in kit.playbacks()), 20, kit.text)
        finally:
            tutor.close()
        # The tutor gone, the window goes on relaying; it never ends it: the
        # user closes it, and it says goodbye as ever.
        home.request("Anyone there?")
        wait_for("a request after the tutor ended",
                 lambda: any(t == "Anyone there?" for t, _ in kit.playbacks()), 5, kit.text)
        win.close()
        win.wait_gone()
        wait_for("the goodbye", lambda: kit.find("tts", "release"), 20, kit.text)
        if not opts.wine:
            wait_for("hearken to end", lambda: not hearken_running(world, tutor.name), 20)


def scenario_window_closed_under_tutor(opts):
    """The window closed while the tutor runs: the tutor goes on (its
    requests no longer taken, each wait bounded)."""
    with World(opts) as world:
        kit = world.kit
        tutor, win = start_tutor_and_window(world)
        try:
            tutor.wait_prompt()
            win.close()
            win.wait_gone()
            wait_for("the goodbye", lambda: kit.find("tts", "release"), 20, kit.text)
            asked = tutor.term.row(4)
            tutor.term.keys(asked[len("Please type: "):].split(" ")[0] + " ")
            wait_for("the next word asked for",
                     lambda: tutor.term.row(4).startswith("Please type: ") and
                     tutor.term.row(4) != asked, 30, tutor.screen)
            check(tutor.term.exit_code() is None, "the tutor ended")
        finally:
            tutor.close()


def processes_mentioning(texts):
    """Process ids whose command line holds one of the texts."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmdline = f.read().decode("utf-8", "replace")
        except OSError:
            continue
        if any(t in cmdline for t in texts):
            found.append(int(entry))
    return found


def kill_processes_mentioning(texts):
    """Kills every process whose command line holds one of the texts."""
    for pid in processes_mentioning(texts):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


def hearken_running(world, name):
    """True while a hearken started from this install directory runs."""
    return bool(processes_mentioning([os.path.join(world.home.dir, name)]))


WINDOW_SCENARIOS = [scenario_startup, scenario_selection_cases, scenario_relay,
                    scenario_request_waiting_at_start, scenario_component_missing,
                    scenario_library_missing, scenario_no_factory, scenario_tutor_and_window,
                    scenario_window_closed_under_tutor]
NATIVE_ONLY = [scenario_headless]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--testkit", required=True)
    ap.add_argument("--nofactory")
    ap.add_argument("--wine", action="store_true")
    ap.add_argument("--winprobe")
    ap.add_argument("--atspi")
    ap.add_argument("--xclose")
    ap.add_argument("--regsvr")
    ap.add_argument("--comlib")
    ap.add_argument("--tutor")
    ap.add_argument("--book")
    ap.add_argument("--shots")
    ap.add_argument("-k", dest="only", default="")
    opts = ap.parse_args()
    for attr in ("exe", "testkit", "nofactory", "winprobe", "atspi", "xclose", "regsvr",
                 "comlib", "tutor", "book", "shots"):
        if getattr(opts, attr):
            setattr(opts, attr, os.path.abspath(getattr(opts, attr)))
    if not opts.wine:
        status = desktop.rerun_in_private_session(__file__, sys.argv[1:])
        if status is not None:
            return status
    scenarios = WINDOW_SCENARIOS + ([] if opts.wine else NATIVE_ONLY)
    chosen = [s for s in scenarios if not opts.only or s.__name__ == "scenario_" + opts.only]
    if not chosen:
        print("no scenario named %r" % opts.only)
        print("0 passed, 1 failed")
        return 1
    passed = failed = 0
    kind = "wine" if opts.wine else "native"
    for s in chosen:
        start = time.time()
        try:
            s(opts)
            ok, detail = True, ""
        except Exception as e:  # one failed scenario must not stop the others
            ok, detail = False, str(e) if isinstance(e, Failure) else traceback.format_exc()
        print("%s %s %s (%.1f s)" % ("PASS" if ok else "FAIL", kind, s.__name__,
                                     time.time() - start))
        if not ok:
            print("    " + detail.replace("\n", "\n    "))
        passed += ok
        failed += not ok
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
