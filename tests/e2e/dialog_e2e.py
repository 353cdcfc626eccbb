#!/usr/bin/env python3
"""End-to-end runs of dialog tables on a real display: the test program
dialogdemo renders a table shaped like the listening window's and one like
the installer's and prints every event it receives. The Windows build runs
under Wine on a private Xvfb and is read and driven with winprobe.exe and
xdotool; the Linux build runs on a private Xvfb in its own D-Bus session
and is read and driven through the accessibility tree (atspi_probe) and
xclose. Screenshots go to --shots when given.

  dialog_e2e.py --bin DIR [--wine] [--shots DIR] [-k NAME]

DIR holds dialogdemo (and, for --wine, winprobe.exe and winprobehook.dll;
natively xclose). Prints one line per scenario and "N passed, M failed"."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from desktop import (Failure, Program, WineSession, Xvfb,  # noqa: E402
                     rerun_in_private_session, wait_for)

LISTEN = "Verdel Listening Window"
INSTALL = "Install Verdel Typing Tutor now"
ENTRIES = ["Alpha", "Beta", "Gamma", "Delta", "Epsilon", "Zeta", "Eta", "Theta", "Iota"]

# Window and control styles as Win32 numbers them.
WS_POPUP, WS_VISIBLE, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x10000000, 0x00C00000, 0x00080000
WS_CHILD, WS_VSCROLL, WS_TABSTOP, WS_BORDER = 0x40000000, 0x00200000, 0x00010000, 0x00800000
DS_3DLOOK, DS_NOFAILCREATE, DS_SETFONT, DS_MODALFRAME = 0x4, 0x10, 0x40, 0x80
DS_SETFOREGROUND, DS_CENTER = 0x200, 0x800
LBS_NOTIFY, LBS_NOINTEGRALHEIGHT, ES_AUTOHSCROLL = 0x1, 0x100, 0x80
WS_EX_CLIENTEDGE, WS_EX_APPWINDOW = 0x200, 0x40000
# What the system may add to a dialog of its own accord: clip siblings, the
# modal frame's edges, the control-parent flag, children's no-notify.
WS_CLIPSIBLINGS = 0x04000000
SYSTEM_ADDED_EX = 0x1 | 0x100 | 0x10000 | 0x4


def check(cond, message):
    if not cond:
        raise Failure(message)


def bits(value):
    return int(value, 16)


def events(lines):
    return [line for line in lines if line.startswith("event ")]


class Env:
    """The display (and for --wine the Wine session) of one scenario."""

    def __init__(self, opts, name):
        self.opts = opts
        self.name = name
        self.x = Xvfb()
        self.wine = None
        try:
            if opts.wine:
                self.wine = WineSession(self.x, opts.bin)
        except Exception:
            self.x.close()
            raise
        self.env = self.wine.env if self.wine else self.x.env
        self.scratch = None

    def demo(self, *args):
        exe = os.path.join(self.opts.bin, "dialogdemo.exe" if self.opts.wine else "dialogdemo")
        argv = (["wine", exe] if self.opts.wine else [exe]) + list(args)
        return Program(argv, self.env)

    def probe(self, *args, **kw):
        return self.wine.probe(*args, **kw)

    def shot(self, label):
        """Takes a screenshot; returns its path."""
        if self.opts.shots:
            directory = self.opts.shots
            os.makedirs(directory, exist_ok=True)
        else:  # only for the checks of this run
            if self.scratch is None:
                self.scratch = tempfile.mkdtemp(prefix="verdel-dialog-shots-")
            directory = self.scratch
        kind = "wine" if self.opts.wine else "gtk"
        return self.x.screenshot(os.path.join(directory, "%s-%s-%s.png" % (kind, self.name,
                                                                           label)))

    def close_window(self, title):
        """Closes a GTK window as a window manager's close box does."""
        subprocess.run([os.path.join(self.opts.bin, "xclose"), "--name", title], env=self.env,
                       check=True, stdout=subprocess.DEVNULL)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.wine:
            self.wine.close()
        self.x.close()
        if self.scratch:
            shutil.rmtree(self.scratch, ignore_errors=True)
        if not self.opts.shots:
            pass


def atspi():
    import atspi_probe  # needs the session bus set up by main()
    return atspi_probe


def drawn(env, png, rect):
    """True when the screen region shows something (the background is black)."""
    x, y, w, h = rect
    return env.x.region_mean(png, x, y, w, h) > 0.3


# ---- scenarios: Windows build under Wine ------------------------------------


def scenario_wine_listening_layout(opts):
    with Env(opts, "listening_layout") as env, \
            env.demo("listen", "--items", "|".join(ENTRIES), "--select", "2") as demo:
        env.probe("wait", LISTEN)
        window = env.probe("window", LISTEN)[0]
        style, ex = bits(window["style"]), bits(window["exstyle"])
        wanted = (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT |
                  DS_3DLOOK | DS_NOFAILCREATE | DS_CENTER)
        check(style & ~WS_CLIPSIBLINGS == wanted, "dialog style %s" % window["style"])
        check(ex & WS_EX_APPWINDOW and ex & ~SYSTEM_ADDED_EX == WS_EX_APPWINDOW,
              "dialog extended style %s" % window["exstyle"])
        check(window["class"] == "#32770", "class %r" % window["class"])
        check(window["font"] == {"face": "MS Sans Serif", "height": -11, "points": 8,
                                 "weight": 400, "charset": 1}, "font %r" % window["font"])
        check(window["client_du"] == [160, 71], "client %r du" % window["client_du"])
        # Centred on the screen, to the pixel that rounding allows.
        x, y, w, h = window["rect_px"]
        sw, sh = window["screen_px"]
        check(abs(2 * x + w - sw) <= 2 and abs(2 * y + h - sh) <= 2,
              "not centred: %r on %r" % (window["rect_px"], window["screen_px"]))

        controls = env.probe("controls", LISTEN)
        check([c["id"] for c in controls] == [105, 103, 108],
              "controls in order: %r" % [c["id"] for c in controls])
        child = WS_CHILD | WS_VISIBLE | WS_TABSTOP
        expected = {
            105: ("ListBox", "", [0, 0, 160, 56],
                  child | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY),
            103: ("Button", "Start Listening", [0, 57, 68, 14], child),
            108: ("Button", "Stop Listening", [97, 57, 63, 14], child),
        }
        for c in controls:
            cls, text, du, st = expected[c["id"]]
            check(c["class"] == cls and c["text"] == text,
                  "control %d: %r %r" % (c["id"], c["class"], c["text"]))
            check(c["du"] == du, "control %d at %r du, expected %r" % (c["id"], c["du"], du))
            # The list shows its scroll bar (and style bit) because nine
            # entries do not fit.
            check(bits(c["style"]) == st, "control %d style %s" % (c["id"], c["style"]))
            check(bits(c["exstyle"]) & ~0x4 == 0, "control %d exstyle %s" % (c["id"],
                                                                           c["exstyle"]))
            check(c["font"] == window["font"], "control %d font %r" % (c["id"], c["font"]))
        lst = env.probe("list", LISTEN, "105")[0]
        check(lst["items"] == ENTRIES and lst["selected"] == 2, "list %r" % lst)
        png = env.shot("window")
        check(drawn(env, png, (x + 5, y + 5, w - 10, h - 10)), "window not drawn: " + png)
        check(events(demo.lines()) == ["event Initialised 0", "event Activated 0"],
              "start-up events %r" % demo.lines())
        check(demo.lines().index("event Initialised 0") < demo.lines().index("shown"),
              "Initialised during dialogShow: %r" % demo.lines())


def scenario_wine_listening_events(opts):
    with Env(opts, "listening_events") as env, \
            env.demo("listen", "--items", "Alpha|Beta|Gamma") as demo:
        env.probe("wait", LISTEN)
        demo.wait_line("event Activated 0")
        env.x.keys_to(LISTEN, "--delay", "100", "Tab", "Tab", "Tab")
        check(env.probe("focus", LISTEN)[0]["focus"] == 105, "Tab goes round to the list")
        check(env.probe("list", LISTEN, "105")[0]["selected"] == -1, "selection at start")
        env.probe("select", LISTEN, "105", "2")
        demo.wait_line("selection 105 2 Gamma")
        env.probe("click", LISTEN, "103")
        demo.wait_line("event Clicked 103")
        env.probe("press", LISTEN, "108")  # BM_CLICK: the button itself reports it
        demo.wait_line("event Clicked 108")
        check(env.probe("focus", LISTEN)[0]["focus"] == 108, "focus after pressing Stop")
        # A user's keys: Tab to the list, Down selects the next entry.
        env.x.xdotool("key", "Tab")
        wait_for("focus on the list", lambda: env.probe("focus", LISTEN)[0]["focus"] == 105)
        env.x.xdotool("key", "Up")
        demo.wait_line("selection 105 1 Beta")
        env.probe("close", LISTEN)  # SC_CLOSE, as from the system menu
        demo.wait_line("loop ended (window gone)")
        check(demo.wait_exit() == 0, "exit code")
        ev = events(demo.lines())
        check(ev[-1] == "event Destroyed 0" and ev.count("event Destroyed 0") == 1,
              "events %r" % ev)
        check(ev.count("event SelectionChanged 105") == 2, "selection events %r" % ev)
        env.probe("gone", LISTEN)


def scenario_wine_alt_f4(opts):
    with Env(opts, "alt_f4") as env, env.demo("listen", "--items", "Alpha") as demo:
        env.probe("wait", LISTEN)
        demo.wait_line("event Activated 0")
        env.x.keys_to(LISTEN, "Escape")  # no handling of its own: Escape does not close
        time.sleep(0.3)
        check(env.probe("wait", LISTEN), "window gone after Escape")
        env.x.xdotool("key", "alt+F4")
        demo.wait_line("loop ended (window gone)")
        check(demo.wait_exit() == 0, "exit code")


def scenario_wine_message_boxes(opts):
    with Env(opts, "message_boxes") as env, \
            env.demo("listen", "--message", "SpeechKit not installed", "--message",
                     "SpeechKit not installed", "--items", "", "--click-message",
                     "Pressed Start") as demo:
        # No caption of its own: the system's.
        for n in (1, 2):
            box = env.probe("msgbox", "Error")[0]
            check(box["text"] == "SpeechKit not installed", "message %d: %r" % (n, box))
            if n == 1:
                png = env.shot("message-box")
                window = env.probe("window", "Error")[0]
                check(bits(window["style"]) & WS_VISIBLE, "box style")
                check(drawn(env, png, tuple(window["rect_px"])), "box not drawn: " + png)
                check("created" not in demo.lines(), "window before the box was closed")
            env.probe("ok", "Error")
            wait_for("box %d closed" % n,
                     lambda: demo.lines().count("message-box-closed") == n)
        env.probe("wait", LISTEN)
        check(env.probe("list", LISTEN, "105")[0]["count"] == 0, "empty list")
        # A message box from inside a handler, while the dialog runs.
        env.probe("click", LISTEN, "103")
        check(env.probe("msgbox", "Error")[0]["text"] == "Pressed Start", "box from a handler")
        env.probe("ok", "Error")
        wait_for("third box closed", lambda: demo.lines().count("message-box-closed") == 3)
        env.probe("close", LISTEN)
        check(demo.wait_exit() == 0, "exit code")
    with Env(opts, "message_caption") as env, \
            env.demo("message", "Checksum error", "Verdel Typing Tutor") as demo:
        box = env.probe("msgbox", "Verdel Typing Tutor")[0]
        check(box == {"title": "Verdel Typing Tutor", "text": "Checksum error"}, repr(box))
        env.probe("ok", "Verdel Typing Tutor")
        check(demo.wait_exit() == 0 and "message-box-closed" in demo.lines(), "closed")


def scenario_wine_installer(opts):
    with Env(opts, "installer") as env, env.demo("install") as demo:
        env.probe("wait", INSTALL)
        window = env.probe("window", INSTALL)[0]
        style, ex = bits(window["style"]), bits(window["exstyle"])
        wanted = (WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT |
                  DS_SETFOREGROUND | DS_3DLOOK)
        check(style & ~WS_CLIPSIBLINGS == wanted, "installer style %s" % window["style"])
        check(ex & ~SYSTEM_ADDED_EX == 0, "installer extended style %s" % window["exstyle"])
        check(window["client_du"] == [201, 129], "client %r" % window["client_du"])
        controls = env.probe("controls", INSTALL)
        check([c["id"] for c in controls] == [1001, 1002, 1003, 1004], "controls")
        edit = controls[3]
        check(edit["class"] == "Edit" and edit["text"] == "not installed", repr(edit))
        check(bits(edit["style"]) == WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
              "edit style %s" % edit["style"])
        check(bits(edit["exstyle"]) & WS_EX_CLIENTEDGE, "edit exstyle %s" % edit["exstyle"])
        check(edit["font"] == {"face": "MS Sans Serif", "height": -32, "points": 24,
                               "weight": 400, "charset": 1}, "edit font %r" % edit["font"])
        check([c["du"] for c in controls] ==
              [[5, 5, 190, 25], [5, 35, 190, 25], [5, 65, 190, 30], [5, 100, 190, 25]],
              "positions %r" % [c["du"] for c in controls])
        # Not centred: the client area starts at 70, 70 dialog units.
        bx, by = window["base_units"]
        x, y, w, h = window["rect_px"]
        check(x + (w - window["client_px"][0]) // 2 == round(70 * bx / 4 + 0.01),
              "left edge %r" % window["rect_px"])
        png = env.shot("window")
        check(drawn(env, png, (x + 5, y + 5, w - 10, h - 10)), "installer not drawn: " + png)
        # The run button does nothing while not installed; exit ends with 1.
        env.probe("click", INSTALL, "1003")
        demo.wait_line("event Clicked 1003")
        time.sleep(0.3)
        check(env.probe("wait", INSTALL), "still open")
        env.probe("click", INSTALL, "1002")
        demo.wait_line("result 1")
        check(demo.wait_exit() == 0, "exit code")
        env.probe("gone", INSTALL)


def scenario_wine_installer_close(opts):
    for how in ("sc_close", "alt_f4"):
        with Env(opts, "installer_" + how) as env, env.demo("install") as demo:
            env.probe("wait", INSTALL)
            demo.wait_line("event Activated 0")
            if how == "sc_close":
                env.probe("close", INSTALL)
            else:
                env.x.keys_to(INSTALL, "alt+F4")
            demo.wait_line("result 0")
            check(events(demo.lines())[-1] == "event Destroyed 0", repr(demo.lines()))
            check(demo.wait_exit() == 0, "exit code")


def scenario_wine_installer_focus(opts):
    """The control that had the focus gets it back after another window was
    active in between."""
    with Env(opts, "installer_focus") as env, env.demo("install") as demo:
        env.probe("wait", INSTALL)
        demo.wait_line("event Activated 0")
        env.x.keys_to(INSTALL, "Tab", "Tab")
        wait_for("focus on the run button",
                 lambda: env.probe("focus", INSTALL)[0]["focus"] == 1003)
        with env.demo("message", "Another window") as other:
            env.probe("msgbox", "Error")
            demo.wait_line("remember 1003")
            env.probe("ok", "Error")
            other.wait_exit()
        # Back to the installer (with no window manager, by a click on it).
        x, y, w, h = env.probe("window", INSTALL)[0]["rect_px"]
        env.x.xdotool("mousemove", str(x + w // 2), str(y + 3), "click", "1")
        demo.wait_line("restore 1003")
        wait_for("focus back on the run button",
                 lambda: env.probe("focus", INSTALL)[0]["focus"] == 1003)
        env.probe("click", INSTALL, "1002")
        demo.wait_line("result 1")


# ---- scenarios: Linux build (GTK) --------------------------------------------


def scenario_gtk_listening_layout(opts):
    a = atspi()
    with Env(opts, "listening_layout") as env, \
            env.demo("listen", "--items", "|".join(ENTRIES), "--select", "2") as demo:
        window = a.find_window(LISTEN)
        check(window.getRoleName() == "frame", "role %r" % window.getRoleName())
        d = a.describe(window)
        check(d["buttons"] == ["Start Listening", "Stop Listening"], "buttons %r" % d)
        check(len(d["lists"]) == 1 and [e["name"] for e in d["lists"][0]] == ENTRIES,
              "entries %r" % d["lists"])
        check([e["selected"] for e in d["lists"][0]] == [i == 2 for i in range(len(ENTRIES))],
              "selection %r" % d["lists"][0])
        # 160 x 71 units of the 8-point font: 240 x 115 pixels, centred.
        x, y, w, h = env.x.geometry(LISTEN)
        check((w, h) == (240, 115), "size %r" % ((w, h),))
        # Each control where its dialog units put it, relative to the window.
        placed = [tuple(v - o for v, o in zip(a.extents(b), (x, y, 0, 0)))
                  for b in a.buttons(window)]
        check(placed == [(0, 93, 102, 22), (146, 93, 94, 22)], "buttons at %r" % placed)
        lx, ly, lw, lh = a.extents(a.lists(window)[0].parent)
        check((lx - x, ly - y, lw, lh) == (0, 0, 240, 91), "list at %r" % ((lx, ly, lw, lh),))
        check(abs(2 * x + w - 1024) <= 2 and abs(2 * y + h - 768) <= 2, "not centred %r"
              % ((x, y),))
        demo.wait_line("event Activated 0")
        png = env.shot("window")
        check(drawn(env, png, (x + 5, y + 5, w - 10, h - 10)), "window not drawn: " + png)
        check(events(demo.lines()) == ["event Initialised 0", "event Activated 0"],
              "start-up events %r" % demo.lines())
        check(demo.lines().index("event Initialised 0") < demo.lines().index("shown"),
              "Initialised during dialogShow: %r" % demo.lines())


def scenario_gtk_listening_events(opts):
    a = atspi()
    with Env(opts, "listening_events") as env, \
            env.demo("listen", "--items", "Alpha|Beta|Gamma") as demo:
        window = a.find_window(LISTEN)
        demo.wait_line("event Activated 0")
        # The list has the focus first; going round with Tab selects nothing.
        env.x.xdotool("key", "--delay", "100", "Tab", "Tab", "Tab")
        time.sleep(0.3)
        check(a.selected_index(window) == -1, "selection at start")
        a.select(window, 2)
        demo.wait_line("selection 105 2 Gamma")
        a.press(window, "Start Listening")
        demo.wait_line("event Clicked 103")
        a.press(window, "Stop Listening")
        demo.wait_line("event Clicked 108")
        # A user's keys: the list has kept the focus; Up moves the selection.
        env.x.xdotool("key", "Up")
        demo.wait_line("selection 105 1 Beta")
        check(a.selected_index(window) == 1, "selection after Up")
        env.close_window(LISTEN)
        demo.wait_line("loop ended (window gone)")
        check(demo.wait_exit() == 0, "exit code")
        ev = events(demo.lines())
        check(ev[-1] == "event Destroyed 0" and ev.count("event SelectionChanged 105") == 2,
              "events %r" % ev)


def scenario_gtk_message_boxes(opts):
    a = atspi()
    with Env(opts, "message_boxes") as env, \
            env.demo("listen", "--message", "SpeechKit not installed", "--message",
                     "SpeechKit not installed", "--items", "", "--click-message",
                     "Pressed Start") as demo:
        for n in (1, 2):
            alert = a.find_alert("Error")
            check(a.alert_text(alert) == "SpeechKit not installed", "text %r" % a.alert_text(alert))
            if n == 1:
                time.sleep(0.2)
                png = env.shot("message-box")
                x, y, w, h = a.extents(alert)
                check(drawn(env, png, (x + 5, y + 5, w - 10, h - 10)), "box not drawn " + png)
                check("created" not in demo.lines(), "window before the box was closed")
            a.alert_ok(alert)
            wait_for("box %d closed" % n,
                     lambda: demo.lines().count("message-box-closed") == n)
        window = a.find_window(LISTEN)
        check(a.describe(window)["lists"] == [[]], "empty list")
        a.press(window, "Start Listening")
        alert = a.find_alert("Error")
        check(a.alert_text(alert) == "Pressed Start", "box from a handler")
        a.alert_ok(alert)
        wait_for("third box closed", lambda: demo.lines().count("message-box-closed") == 3)
        env.close_window(LISTEN)
        check(demo.wait_exit() == 0, "exit code")
    with Env(opts, "message_caption") as env, \
            env.demo("message", "Checksum error", "Verdel Typing Tutor") as demo:
        alert = a.find_alert("Verdel Typing Tutor")
        check(a.alert_text(alert) == "Checksum error", "text %r" % a.alert_text(alert))
        check(env.x.window_ids("Verdel Typing Tutor"), "the caption is the title")
        a.alert_ok(alert)
        check(demo.wait_exit() == 0 and "message-box-closed" in demo.lines(), "closed")


def scenario_gtk_installer(opts):
    a = atspi()
    with Env(opts, "installer") as env, env.demo("install") as demo:
        window = a.find_window(INSTALL)
        d = a.describe(window)
        check(d["buttons"] == ["Install (Yes) and Proceed", "Don't Install (No) and Exit",
                               "Run The Program (if installed)"], "buttons %r" % d)
        check(d["texts"] == ["not installed"], "status %r" % d["texts"])
        # 201 x 129 units at 70, 70: 302 x 210 pixels at 105, 114.
        x, y, w, h = env.x.geometry(INSTALL)
        check((x, y, w, h) == (105, 114, 302, 210), "geometry %r" % ((x, y, w, h),))
        demo.wait_line("event Activated 0")
        png = env.shot("window")
        check(drawn(env, png, (x + 5, y + 5, w - 10, h - 10)), "installer not drawn: " + png)
        a.press(window, "Run The Program (if installed)")
        demo.wait_line("event Clicked 1003")
        time.sleep(0.3)
        check(env.x.window_ids(INSTALL), "still open")
        a.press(window, "Don't Install (No) and Exit")
        demo.wait_line("result 1")
        check(demo.wait_exit() == 0, "exit code")
    with Env(opts, "installer_close") as env, env.demo("install") as demo:
        a.find_window(INSTALL)
        env.close_window(INSTALL)
        demo.wait_line("result 0")
        check(events(demo.lines())[-1] == "event Destroyed 0", repr(demo.lines()))


def scenario_gtk_installer_focus(opts):
    a = atspi()
    with Env(opts, "installer_focus") as env, env.demo("install") as demo:
        a.find_window(INSTALL)
        demo.wait_line("event Activated 0")
        env.x.xdotool("key", "Tab", "Tab")
        with env.demo("message", "Another window") as other:
            alert = a.find_alert("Error")
            demo.wait_line("remember 1003")
            a.alert_ok(alert)
            other.wait_exit()
        x, y, w, h = env.x.geometry(INSTALL)
        wid = env.x.window_ids(INSTALL)[0]
        env.x.xdotool("windowfocus", wid)
        demo.wait_line("restore 1003")
        env.x.xdotool("key", "space")  # the focused button is the run button
        wait_for("a click on the run button",
                 lambda: demo.lines().count("event Clicked 1003") == 1)
        a.press(a.find_window(INSTALL), "Don't Install (No) and Exit")
        demo.wait_line("result 1")


def scenario_gtk_headless(opts):
    """No display: no window, message boxes return at once, the loop waits
    for a close signal."""
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    exe = os.path.join(opts.bin, "dialogdemo")
    with Program([exe, "listen", "--message", "SpeechKit not installed", "--items", "A"],
                 env) as demo:
        demo.wait_line("display unavailable")
        check(demo.lines()[:2] == ["message-box-closed", "display unavailable"],
              repr(demo.lines()))
        time.sleep(0.3)
        check(demo.proc.poll() is None, "it waits for a close signal")
        demo.proc.send_signal(signal.SIGHUP)
        demo.wait_line("loop ended (close signal)")
        check(demo.wait_exit() == 0, "exit code")
    with Program([exe, "install"], env) as demo:
        demo.wait_line("result -1")
        check(demo.wait_exit() == 0, "exit code")


SCENARIOS = {
    "wine": [scenario_wine_listening_layout, scenario_wine_listening_events, scenario_wine_alt_f4,
             scenario_wine_message_boxes, scenario_wine_installer, scenario_wine_installer_close,
             scenario_wine_installer_focus],
    "native": [scenario_gtk_listening_layout, scenario_gtk_listening_events,
               scenario_gtk_message_boxes, scenario_gtk_installer, scenario_gtk_installer_focus,
               scenario_gtk_headless],
}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--wine", action="store_true")
    ap.add_argument("--shots", default="")
    ap.add_argument("-k", dest="only", default="")
    opts = ap.parse_args()
    opts.bin = os.path.abspath(opts.bin)
    if opts.shots:
        opts.shots = os.path.abspath(opts.shots)
    kind = "wine" if opts.wine else "native"
    if kind == "native":
        # Natively the run has a D-Bus session of its own (the accessibility
        # bus hangs off it) and Debian's python with pyatspi.
        status = rerun_in_private_session(__file__, sys.argv[1:])
        if status is not None:
            return status
    prefix = "scenario_%s_" % ("wine" if opts.wine else "gtk")
    chosen = [s for s in SCENARIOS[kind] if not opts.only or s.__name__ == prefix + opts.only]
    if not chosen:
        print("no scenario named %r" % opts.only)
        print("0 passed, 1 failed")
        return 1
    passed = failed = 0
    for s in chosen:
        start = time.time()
        try:
            s(opts)
            ok, detail = True, ""
        except Exception as e:  # a failed scenario must not stop the others
            ok = False
            detail = str(e) if isinstance(e, Failure) else traceback.format_exc()
        print("%s %s %s (%.1f s)" % ("PASS" if ok else "FAIL", kind, s.__name__,
                                     time.time() - start))
        if not ok:
            print("    " + detail.replace("\n", "\n    "))
        sys.stdout.flush()
        passed += ok
        failed += not ok
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
