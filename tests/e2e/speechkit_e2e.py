#!/usr/bin/env python3
"""The listening window with the real speech component, end to end: the
component registered as the installer registers it, `hearken` started in the
component's simulation mode (under Wine on a private Xvfb display, driven
through winprobe; on Linux headless), phrases dropped into the simulation
inbox reaching heard.txt, and what was spoken in spoken.log.

  speechkit_e2e.py --hearken EXE --component LIB --book BOOK [--wine --winprobe EXE |
      --regsvr TOOL] [--speech] -k SCENARIO

--speech: the component recognises speech (Linux with pocketsphinx): a .wav
made by espeak-ng is dropped too. Prints one line per scenario and a closing
"N passed, M failed" line."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hearken_e2e as he  # noqa: E402  (display, install directory, winprobe)
import tutor_e2e  # noqa: E402  (the tutor in tmux)
import desktop  # noqa: E402  (a private display and Wine session)
from pulse_server import PulseServer  # noqa: E402

class SpeechWorld:
    """A scratch folder with an install directory (the book in it), the
    component's simulation folder and the component registered: on Linux in
    a store of its own, under Wine in a Wine session of its own on a display
    of its own, so no other test's registration or windows are touched."""

    def __init__(self, opts, simulate=True):
        self.opts = opts
        self.root = tempfile.mkdtemp(prefix="verdel-speechkit-")
        self.home = he.Home(self.root)
        shutil.copy(opts.book, os.path.join(self.home.dir, "orvane.txt"))
        self.sim = os.path.join(self.root, "sim")
        self.inbox = os.path.join(self.sim, "inbox")
        os.makedirs(self.inbox)
        self.xvfb = self.session = None
        self.procs = []
        if opts.wine:
            self.xvfb = desktop.Xvfb()
            self.session = desktop.WineSession(self.xvfb, os.path.dirname(opts.winprobe))
            self.env = dict(self.session.env)
        else:
            self.env = dict(os.environ)
            self.env.pop("DISPLAY", None)
            self.env.pop("WAYLAND_DISPLAY", None)
            self.env["XDG_DATA_HOME"] = os.path.join(self.root, "xdg")
        path = he.winpath if opts.wine else (lambda p: p)
        self.env["VERDEL_HOME"] = path(self.home.dir)
        if simulate:
            self.env["XSPEECHKIT_SIMULATE"] = path(self.sim)
        r = self.regsvr()
        he.check(r.returncode == 0, "registration failed: %s %s" % (r.stdout, r.stderr))

    def regsvr(self, unregister=False):
        if self.opts.wine:
            cmd = ["wine", "regsvr32", "/s"] + (["/u"] if unregister else []) + \
                [he.winpath(self.opts.component)]
        else:
            cmd = [self.opts.regsvr] + (["-u"] if unregister else []) + [self.opts.component]
        return he.run_to_files(cmd, self.env, self.root)

    def start_hearken(self):
        cmd = ["wine", self.opts.hearken] if self.opts.wine else [self.opts.hearken]
        err = open(os.path.join(self.root, "hearken-stderr.txt"), "wb")
        proc = subprocess.Popen(cmd, env=self.env, cwd=self.root, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=err)
        err.close()
        self.procs.append(proc)
        return proc

    def spoken(self):
        try:
            with open(os.path.join(self.sim, "spoken.log"), "rb") as f:
                return f.read().decode("utf-8").splitlines()
        except OSError:
            return []

    def drop(self, name, data):
        temp = os.path.join(self.inbox, "." + name)
        with open(temp, "wb") as f:
            f.write(data)
        os.rename(temp, os.path.join(self.inbox, name))

    def drop_speech(self, name, words):
        made = os.path.join(self.root, name)
        subprocess.run(["espeak-ng", "-v", "en-us", "-w", made, words], check=True)
        os.rename(made, os.path.join(self.inbox, name))

    def heard(self, timeout=30.0):
        """The text of the next heard.txt, which is then removed as the tutor
        removes it."""
        record = he.wait_for("heard.txt", self.home.heard_record, timeout)
        os.remove(self.home.heard)
        return record[8:]

    def close(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        he.kill_processes_mentioning((self.root, he.winpath(self.root)))
        self.regsvr(unregister=True)
        if self.session:
            self.session.close()
        if self.xvfb:
            self.xvfb.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def scenario_inbox_to_heard(opts):
    """The engines listed and the start-up prompt spoken (with a window),
    phrases heard (only while listening), and the goodbye spoken before
    hearken ends."""
    with SpeechWorld(opts) as world:
        hearken = world.start_hearken()
        win = he.WinWindow(world) if opts.wine else None
        if win:
            win.wait()
            items, selected = win.entries()
            he.check(items and all(items), "no engines listed: %r" % (items,))
            he.check(selected == 0, "the current engine (the first) is not selected: %r" %
                     selected)
            he.wait_for("the start-up prompt", lambda: world.spoken()[:1] == [he.PROMPT], 30,
                        lambda: repr(world.spoken()))
            win.start()  # headless, hearken listens from the start and prompts nobody
        world.drop("1.txt", b"chapter 12 ")
        he.check(world.heard() == "chapter 12 ", "the phrase did not arrive as it stands")
        he.check(not os.path.exists(os.path.join(world.inbox, "1.txt")), "1.txt left behind")
        if opts.speech:
            for name, said, expected in [("2.wav", "chapter twelve", "chapter 12 "),
                                         ("3.wav", "exit program", "exit program "),
                                         ("4.wav", "help", "help ")]:
                world.drop_speech(name, said)
                text = world.heard(60)
                he.check(text == expected, "%r heard as %r" % (said, text))
        if win:
            win.stop()
            world.drop("5.txt", b"help ")
            time.sleep(1.5)
            he.check(world.home.heard_record() is None, "heard after Stop Listening")
            he.check(os.path.exists(os.path.join(world.inbox, "5.txt")),
                     "the inbox was read after Stop Listening")
            win.close()
        else:
            hearken.send_signal(signal.SIGTERM)
        he.wait_exit(hearken, 30)
        spoken = world.spoken()
        he.check(spoken[-1:] == [he.GOODBYE], "the goodbye was not spoken last: %r" % spoken)


def scenario_live_microphone(opts):
    """Linux with the recogniser: headless hearken listens for real, the
    microphone being a PulseAudio null sink's monitor; "chapter twelve"
    played into the sink reaches heard.txt as "chapter 12 "."""
    with SpeechWorld(opts, simulate=False) as world, \
            PulseServer(os.path.join(world.root, "pulse")) as pulse:
        world.env.update(pulse.env)
        speech = os.path.join(world.root, "chapter12.wav")
        made = os.path.join(world.root, "made.wav")
        subprocess.run(["espeak-ng", "-v", "en-us", "-w", made, "chapter twelve"], check=True)
        # At the sink's own rate: the server's resampling spoils recognition.
        subprocess.run(["sox", "-v", "0.9", made, "-r", "16000", "-c", "1", "-b", "16", speech],
                       check=True)
        hearken = world.start_hearken()
        # The model loads after start-up; until it listens, speech is lost.
        # Say it again every few seconds until it is heard. (A player starved
        # on a loaded machine leaves gaps, and a cut-up "chapter" can be heard
        # as another word: that is the recogniser's accuracy, which the
        # benchmark measures; here it is said again, as a learner would.)
        text, others = None, []
        for _ in range(8):
            subprocess.run(["paplay", speech], env=world.env, check=True, timeout=30)
            try:
                text = world.heard(4)
            except he.Failure:
                continue
            if text == "chapter 12 ":
                break
            others.append(text)
        he.check(text == "chapter 12 ", "heard %r" % (others + [text]))
        if others:
            print("  heard first: %r" % others)
        hearken.send_signal(signal.SIGTERM)
        he.wait_exit(hearken, 30)


def scenario_live_tutor(opts):
    """Linux with the recogniser, nothing simulated: the tutor starts hearken
    (headless, so listening at once) from the install directory; "chapter
    twelve" played into the microphone moves the lesson to paragraph 12. The
    tutor's own speech goes to another sink, as a headset keeps it out of the
    microphone."""
    he.check(opts.tutor and opts.comlib, "--tutor and --comlib are needed")
    with SpeechWorld(opts, simulate=False) as world, \
            PulseServer(os.path.join(world.root, "pulse"), speaker=True) as pulse:
        world.env.update(pulse.env)
        for f in (opts.hearken, opts.comlib):
            shutil.copy(f, world.home.dir)
        made = os.path.join(world.root, "made.wav")
        speech = os.path.join(world.root, "chapter12.wav")
        subprocess.run(["espeak-ng", "-v", "en-us", "-w", made, "chapter twelve"], check=True)
        subprocess.run(["sox", "-v", "0.9", made, "-r", "16000", "-c", "1", "-b", "16", speech],
                       check=True)
        env = {k: world.env[k] for k in ("VERDEL_HOME", "XDG_DATA_HOME", "PULSE_SERVER")}
        term = tutor_e2e.Terminal("env -u DISPLAY -u WAYLAND_DISPLAY " +
                                  tutor_e2e.shellquote(opts.tutor), env, world.root)

        def screen():
            return "\n".join(term.screen())

        def at_paragraph_12():
            return (term.row(2) + " " * 80)[59:].startswith(" 12 0")

        try:
            he.wait_for("the typing prompt", lambda: term.row(4).startswith("Please type: "),
                        90, screen)
            # The model may still be loading: say it again until it is heard.
            for _ in range(8):
                subprocess.run(["paplay", "-d", "vmic", speech], env=world.env, check=True,
                               timeout=30)
                try:
                    he.wait_for("paragraph 12", at_paragraph_12, 5, screen)
                    break
                except he.Failure:
                    continue
            he.check(at_paragraph_12(), "not at paragraph 12:\n" + screen())
        finally:
            term.close()


SCENARIOS = [scenario_inbox_to_heard, scenario_live_microphone, scenario_live_tutor]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--hearken", required=True)
    ap.add_argument("--component", required=True)
    ap.add_argument("--book", required=True)
    ap.add_argument("--wine", action="store_true")
    ap.add_argument("--winprobe")
    ap.add_argument("--regsvr")
    ap.add_argument("--speech", action="store_true")
    ap.add_argument("--tutor")
    ap.add_argument("--comlib")
    ap.add_argument("-k", dest="only", default="")
    opts = ap.parse_args()
    for attr in ("hearken", "component", "book", "winprobe", "regsvr", "tutor", "comlib"):
        if getattr(opts, attr):
            setattr(opts, attr, os.path.abspath(getattr(opts, attr)))
    chosen = [s for s in SCENARIOS if not opts.only or s.__name__ == "scenario_" + opts.only]
    passed = failed = 0
    kind = "wine" if opts.wine else "native"
    for s in chosen:
        start = time.time()
        try:
            s(opts)
            ok, detail = True, ""
        except Exception as e:  # one failed scenario must not stop the others
            ok, detail = False, str(e) if isinstance(e, he.Failure) else traceback.format_exc()
        print("%s %s %s (%.1f s)" % ("PASS" if ok else "FAIL", kind, s.__name__,
                                     time.time() - start))
        if not ok:
            print("    " + detail.replace("\n", "\n    "))
        passed += ok
        failed += not ok
    if not chosen:
        failed = 1
        print("no scenario named %r" % opts.only)
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
