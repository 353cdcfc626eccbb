#!/usr/bin/env python3
"""End-to-end runs of the real tutor in a terminal (tmux), natively or as the
Windows build under Wine, with a stand-in for the listening window that
speaks through the same two exchange files.

  tutor_e2e.py --exe build/bin/verdel101 --book book/orvane.txt [--wine] [-k NAME]

Prints one line per scenario and a closing "N passed, M failed" line."""
import argparse
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import traceback

SHIFT = 173


def stamp():
    return time.strftime("%H:%M:%S").encode()


class FakeListener:
    """Takes requests from speak.txt and publishes phrases into heard.txt,
    as the listening window does. By default it looks more often than once a
    second so the runs stay short; with real_timing it behaves as the real
    window does: one look per clock second, and a request equal to the last
    one it took is deleted without being spoken."""

    def __init__(self, home, interval=0.1, real_timing=False):
        self.speak = os.path.join(home, "speak.txt")
        self.heard = os.path.join(home, "heard.txt")
        self.interval = interval
        self.real_timing = real_timing
        self.last_taken = b""
        self.empty_seen = False
        self.spoken = []
        self.lock = threading.Lock()
        self.running = True
        self.paused = False
        self.thread = threading.Thread(target=self._loop, daemon=True)
        self.thread.start()

    def _wait_for_next_look(self):
        if not self.real_timing:
            time.sleep(self.interval)
            return
        now = time.strftime("%H:%M:%S")
        while self.running and time.strftime("%H:%M:%S") == now:
            time.sleep(0.005)

    def _look(self):
        # The real window's rules: a file the tutor holds (it writes under an
        # exclusive lock) is left for the next look, and an empty one is only
        # deleted when the look before saw it empty too. Under Wine the lock
        # is not visible from here; the empty-twice rule covers the moment
        # between the tutor creating the file and writing it.
        try:
            with open(self.speak, "rb") as f:
                try:
                    fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                except OSError:
                    return
                data = f.read(65536)
            if not data:
                if self.empty_seen:
                    os.unlink(self.speak)
                self.empty_seen = not self.empty_seen
                return
            self.empty_seen = False
            repeat = self.real_timing and data == self.last_taken
            self.last_taken = data
            os.unlink(self.speak)
            if repeat or len(data) <= 8:
                return
            text = bytes((b + SHIFT) % 256 for b in data)[8:]
            with self.lock:
                self.spoken.append(text.decode("cp1252", "replace"))
        except OSError:
            pass

    def _loop(self):
        while self.running:
            if not self.paused:
                self._look()
            self._wait_for_next_look()

    def say(self, phrase):
        record = stamp() + phrase.encode("cp1252")
        with open(self.heard, "wb") as f:
            f.write(bytes((b + SHIFT) % 256 for b in record))

    def said(self):
        with self.lock:
            return list(self.spoken)

    def stop(self):
        self.running = False
        self.thread.join()


class Terminal:
    """One program in an 80x25 tmux session."""

    def __init__(self, command, env, cwd):
        self.socket = "verdel-e2e-%d-%d" % (os.getpid(), int(time.time() * 1000) % 100000)
        self.rcfile = os.path.join(cwd, "exit-code")
        self.sttyfile = os.path.join(cwd, "stty-after")
        envs = " ".join("%s=%s" % (k, shellquote(v)) for k, v in env.items())
        # After the program: its exit code, and the terminal mode it left.
        script = "cd %s && env %s %s; rc=$?; stty -a > %s; echo $rc > %s; sleep 600" % (
            shellquote(cwd), envs, command, shellquote(self.sttyfile), shellquote(self.rcfile))
        subprocess.run(["tmux", "-L", self.socket, "new-session", "-d", "-s", "t", "-x", "80",
                        "-y", "25", script], check=True)

    def screen(self):
        out = subprocess.run(["tmux", "-L", self.socket, "capture-pane", "-p", "-t", "t"],
                             capture_output=True, text=True).stdout
        rows = out.split("\n")
        return (rows + [""] * 25)[:25]

    def row(self, n):
        return self.screen()[n - 1]

    def keys(self, text=None, *named):
        if text:
            subprocess.run(["tmux", "-L", self.socket, "send-keys", "-t", "t", "-l", text],
                           check=True)
        for k in named:
            subprocess.run(["tmux", "-L", self.socket, "send-keys", "-t", "t", k], check=True)

    def exit_code(self):
        try:
            with open(self.rcfile) as f:
                return int(f.read().strip())
        except (OSError, ValueError):
            return None

    def program_pid(self):
        """The program's process: the child of the pane's shell."""
        pane = subprocess.run(["tmux", "-L", self.socket, "display", "-p", "-t", "t",
                               "#{pane_pid}"], capture_output=True, text=True).stdout.strip()
        children = subprocess.run(["pgrep", "-P", pane], capture_output=True,
                                  text=True).stdout.split()
        return int(children[0]) if children else None

    def terminal_restored(self):
        """True when the terminal is back in line mode with echo."""
        try:
            modes = open(self.sttyfile).read().split()
        except OSError:
            return False
        return "icanon" in modes and "echo" in modes

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)


def shellquote(s):
    return "'" + s.replace("'", "'\\''") + "'"


class Failure(Exception):
    pass


def wait_for(what, predicate, timeout=20.0, screen=None):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    detail = ""
    if screen is not None:
        detail = "\n--- screen ---\n" + "\n".join(screen())
    raise Failure("timed out waiting for " + what + detail)


def book_paragraphs(book):
    data = open(book, "rb").read()[:200000]
    kept = bytes(b for b in data if b not in (9, 10, 12))
    return [p.decode("cp1252") for p in kept.split(b"\r")]


class Run:
    """One tutor started in a fresh install directory."""

    def __init__(self, opts, book=True, altered=False, listener=True, real_timing=False,
                 stand_in=False):
        self.opts = opts
        self.home = tempfile.mkdtemp(prefix="verdel-e2e-")
        if book == "fifo":
            os.mkfifo(os.path.join(self.home, "orvane.txt"))
        elif book == "directory":
            os.mkdir(os.path.join(self.home, "orvane.txt"))
        elif book:
            data = open(opts.book, "rb").read()
            if altered:
                data = bytearray(data)
                data[len(data) // 2] ^= 0x01
                data = bytes(data)
            with open(os.path.join(self.home, "orvane.txt"), "wb") as f:
                f.write(data)
        if stand_in:
            # A stand-in listening window that only notes each start.
            name = "hearken.exe" if opts.wine else "hearken"
            shutil.copy(opts.stand_in, os.path.join(self.home, name))
        self.listener = FakeListener(self.home, real_timing=real_timing) if listener else None
        if opts.wine:
            command = "wine " + shellquote(opts.exe)
            env = {"VERDEL_HOME": "Z:" + self.home.replace("/", "\\")}
        else:
            command = shellquote(opts.exe)
            env = {"VERDEL_HOME": self.home}
        self.term = Terminal(command, env, self.home)

    def screen_text(self):
        return "\n".join(self.term.screen())

    def wait_screen(self, what, predicate, timeout=20.0):
        return wait_for(what, lambda: predicate(self.term.screen()), timeout, self.term.screen)

    def wait_row(self, n, text, timeout=20.0, column=1):
        return self.wait_screen("row %d to show %r" % (n, text),
                                lambda s: (s[n - 1] + " " * 80)[column - 1:].startswith(text), timeout)

    def wait_spoken(self, text, timeout=20.0):
        return wait_for("%r to be spoken" % text,
                        lambda: any(text in s for s in self.listener.said()), timeout,
                        self.term.screen)

    def wait_paragraph(self, p, timeout=30.0):
        # The position line: the number text of p and of the word offset 0.
        return self.wait_row(2, " %d 0" % p, timeout, column=60)

    def wait_exit(self, timeout=30.0):
        return wait_for("the tutor to end", lambda: self.term.exit_code() is not None, timeout,
                        self.term.screen)

    def jump_to(self, p):
        """Waits for the lesson, says "chapter p" and waits until paragraph p
        asks for its first word. Returns the paragraph's words."""
        self.wait_row(4, "Please type: ", 40)
        self.listener.say("chapter %d " % p)
        self.wait_paragraph(p)
        words = book_paragraphs(self.opts.book)[p].split(" ")
        self.wait_row(4, "Please type: " + words[0] + " ", 10)
        return words

    def listener_starts(self):
        """The argument counts the stand-in window noted, one per start."""
        try:
            with open(os.path.join(self.home, "hearken-started.txt")) as f:
                return f.read().split()
        except OSError:
            return []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self.term.close()
        if self.listener:
            self.listener.stop()
        shutil.rmtree(self.home, ignore_errors=True)


def check(cond, message):
    if not cond:
        raise Failure(message)


def startup_lines(s):
    return [line.rstrip() for line in s if line.strip()]


# ---- scenarios -----------------------------------------------------------


def scenario_startup_with_listener(opts):
    with Run(opts, stand_in=True) as run:
        run.wait_row(4, "Please type: ", 40)
        check(run.listener_starts() == [], "a window answered, yet the tutor started one")
        spoken = run.listener.said()
        check(spoken[:2] == ["Hello and welcome.", "Loading verdel typing tutor application"],
              "first requests: %r" % spoken[:3])
        check(any(s.startswith("Get ready to type the first word.  It is ") for s in spoken),
              "the first word was not spoken: %r" % spoken)


def scenario_startup_messages(opts):
    # A listener that answers slowly keeps the start-up lines on screen long
    # enough to read them in order.
    with Run(opts) as run:
        expected = ["Loading Verdel Typing Tutor v1.00", "Opening text...",
                    "Checking text for tampering...", "Valid text, Orvane",
                    "Speech Component Already running!"]
        run.wait_screen("the start-up lines",
                        lambda s: startup_lines(s)[:5] == expected, 20)
        check(run.term.screen()[0].strip() == "", "row 1 is the empty first line")


def scenario_no_listener(opts):
    with Run(opts, listener=False, stand_in=True) as run:
        run.wait_screen("Starting Speech Component...",
                        lambda s: "Starting Speech Component..." in s, 20)
        # The window is started once, from the install directory, with no
        # arguments.
        wait_for("the window to be started", run.listener_starts, 20, run.term.screen)
        # Say must not hang with nobody taking requests: the lesson reaches
        # the typing prompt anyway.
        run.wait_row(4, "Please type: ", 40)
        paragraphs = book_paragraphs(opts.book)
        first = next(p for p in range(2, len(paragraphs)) if paragraphs[p])
        word = paragraphs[first].split(" ")[0]
        run.term.keys(word + " ")
        second = paragraphs[first].split(" ")[1]
        run.wait_row(4, "Please type: " + second + " ", 30)
        check(run.listener_starts() == ["0"], "window starts: %r" % run.listener_starts())


def scenario_chapter_and_typing(opts):
    with Run(opts) as run:
        paragraphs = book_paragraphs(opts.book)
        run.wait_row(4, "Please type: ", 40)
        # A phrase with no keyword shows on row 1, cut to 79 characters, and
        # changes nothing; it stays until the empty message after it.
        long_phrase = "good morning " + "x" * 80 + " "
        run.listener.say(long_phrase)
        run.wait_row(1, long_phrase[:79], 10)
        check(len(run.term.row(1).rstrip()) == 79, "row 1 not cut to 79: %r" % run.term.row(1))
        run.wait_screen("row 1 blanked by the empty message", lambda s: s[0].strip() == "", 10)
        run.listener.say("chapter 12 ")
        run.wait_paragraph(12)
        words = paragraphs[12].split(" ")
        run.wait_row(4, "Please type: " + words[0] + " ", 10)
        run.wait_spoken("Get ready to type the first word.  It is " + words[0])
        check(any(s == "The next paragraph is  12 Of the text.  It will follow now. " +
                  paragraphs[12] for s in run.listener.said()),
              "announcement of paragraph 12 not spoken")
        upcoming = ""
        for w in words:
            if len(upcoming) + len(w) + 1 > 79:
                break
            upcoming += " " + w
        check(run.term.row(6).rstrip() == upcoming.rstrip(),
              "row 6: %r, expected %r" % (run.term.row(6), upcoming))
        # Type the first word right, with one wrong-case letter.
        first = words[0]
        typed = first[0].swapcase() + first[1:] if first[0].isalpha() else first
        run.term.keys(typed)
        run.wait_row(7, " " + typed, 10)
        marks = ("^" if first[0].isalpha() else "_") + "_" * (len(first) - 1)
        run.wait_row(8, " " + marks, 10)
        run.term.keys(" ")
        run.wait_row(4, "Please type: " + words[1] + " ", 10)
        # A wrong key, then backspace.
        run.term.keys("#")
        run.wait_row(8, " X", 10)
        run.term.keys(None, "BSpace")
        run.wait_screen("row 7 empty again", lambda s: s[6].strip() == "", 10)
        run.wait_spoken(words[1])


def scenario_help_and_exit(opts):
    with Run(opts) as run:
        run.wait_row(4, "Please type: ", 40)
        run.listener.say("help ")
        run.wait_screen("the help page",
                        lambda s: any(r.startswith("Please say 'continue' when you are finished "
                                                   "reading this help page.") for r in s), 30)
        run.wait_spoken("Please say 'continue' when you are finished reading this help page.")
        spoken = run.listener.said()
        first = next(i for i, s in enumerate(spoken) if s.startswith("to jump to a chapter"))
        check(spoken[first + 1].startswith("to continue on to typing"), "help lines in order")
        check(spoken[first + 4].startswith("to leave this program"), "help lines in order")
        run.listener.say("exit program ")
        run.wait_exit(15)
        check(run.term.exit_code() == 0, "exit code %r" % run.term.exit_code())
        if not opts.wine:
            check(run.term.terminal_restored(), "terminal left in raw mode")


def scenario_help_continue(opts):
    with Run(opts) as run:
        run.jump_to(20)
        run.listener.say("help ")
        run.wait_spoken("Please say 'continue' when you are finished reading this help page.")
        time.sleep(1.5)  # the empty message after the phrase must not end the page
        run.listener.say("help ")  # a second help keeps it waiting
        time.sleep(2.0)
        check("Please say 'continue' when you are finished reading this help page."
              in run.screen_text(), "help page left early")
        run.listener.say("continue ")
        run.wait_paragraph(21)


def scenario_results(opts):
    with Run(opts) as run:
        words = run.jump_to(30)
        first = words[0]
        run.term.keys(first + " ")
        run.wait_row(4, "Please type: " + words[1] + " ", 10)
        run.listener.say("result ")
        run.wait_spoken("Please say 'continue' when finished viewing this page.")
        text = run.screen_text()
        check("inf" not in text and "nan" not in text, "inf or nan on the results page")
        ch = first[0]
        check(any(r.startswith(ch + " ") or (" " + ch + " ") in r for r in run.term.screen()),
              "no cell for %r" % ch)
        check("~ ? ?" in text, "a character never typed shows ? ?:\n" + text)
        run.listener.say("continue ")
        run.wait_paragraph(31)


def scenario_locate(opts):
    with Run(opts) as run:
        paragraphs = book_paragraphs(opts.book)
        target = next(i for i, p in enumerate(paragraphs) if "oligarchy" in p.lower())
        run.wait_row(4, "Please type: ", 40)
        run.listener.say("locate oligarchy ")
        run.wait_row(2, 'Finding: "oligarchy"    -- is this correct?', 15)
        time.sleep(1.5)
        run.listener.say("help ")  # only yes or no ends the question
        time.sleep(1.5)
        check('Finding: "oligarchy"' in run.term.row(2), "the question did not wait")
        run.listener.say("yes ")
        run.wait_screen("Found @", lambda s: any("Found @  %d" % target in r for r in s), 15)
        run.wait_paragraph(target, 15)
        # Answers that do not jump: the lesson goes on with the next paragraph.
        cases = [
            ("locate harbour ", '"harbour"', "no "),  # declined
            ("locate qqqzzz nowhere ", '"qqqzzz nowhere"', "yes please "),  # found nowhere
            ("locate ", '""    -- is this correct?', "yes "),  # nothing to search for
            ("locate oligarchy ", '"oligarchy"', "yes no "),  # both answers: no wins
        ]
        for step, (phrase, question, answer) in enumerate(cases, start=1):
            run.wait_row(4, "Please type: ", 10)
            run.listener.say(phrase)
            run.wait_row(2, "Finding: " + question, 15)
            run.listener.say(answer)
            run.wait_paragraph(target + step, 20)


def scenario_missing_book(opts):
    with Run(opts, book=False) as run:
        run.wait_screen("the missing-text report",
                        lambda s: "Reason: Orvane (text) is missing!" in s, 30)
        lines = startup_lines(run.term.screen())
        check(lines == ["Loading Verdel Typing Tutor v1.00", "Opening text...",
                        "Missing text, Orvane.",
                        "Program cannot run without this text!  Contact support at "
                        "800-555-0100.", "Reason: Orvane (text) is missing!"],
              "report lines: %r" % lines)
        run.wait_exit(15)
        check(not os.path.exists(os.path.join(run.home, "orvane.txt")),
              "the tutor created a missing book")


def scenario_altered_book(opts):
    with Run(opts, altered=True) as run:
        run.wait_screen("the invalid-text report",
                        lambda s: "Reason for error: Orvane (text) has been modified without "
                                  "permission." in s, 30)
        lines = startup_lines(run.term.screen())
        check(lines == ["Loading Verdel Typing Tutor v1.00", "Opening text...",
                        "Checking text for tampering...",
                        "Invalid source text!  Contact support at 800-555-0100.",
                        "Reason for error: Orvane (text) has been modified without permission."],
              "report lines: %r" % lines)
        run.wait_exit(15)


def scenario_missing_home(opts):
    # VERDEL_HOME names a directory that does not exist.
    with Run(opts, book=False, listener=False) as run:
        shutil.rmtree(run.home)
        os.makedirs(run.home)  # the terminal needs a working directory
        missing = os.path.join(run.home, "not-there")
        run.term.close()
        if opts.wine:
            cmd, env = "wine " + shellquote(opts.exe), {"VERDEL_HOME": "Z:" + missing.replace("/", "\\")}
        else:
            cmd, env = shellquote(opts.exe), {"VERDEL_HOME": missing}
        run.term = Terminal(cmd, env, run.home)
        run.wait_screen("the missing-text report", lambda s: "Missing text, Orvane." in s, 30)
        check(not os.path.exists(missing), "the tutor created the install directory")


def blank_rows_below(screen, row):
    return all(not r.strip() for r in screen[row - 1:])


def scenario_hostile_keys(opts):
    with Run(opts) as run:
        first = run.jump_to(40)[0]
        # A character the code page cannot hold is one wrong key.
        run.term.keys("\U0001F600")
        run.wait_row(8, " X ", 10)
        run.term.keys(None, "BSpace")
        run.wait_screen("row 8 empty", lambda s: not s[7].strip(), 10)
        run.term.keys("\u4e2d")
        run.wait_row(8, " X ", 10)
        run.term.keys(None, "BSpace")
        run.wait_screen("row 8 empty", lambda s: not s[7].strip(), 10)
        # Keys without characters, control characters, then the word's start.
        run.term.keys(None, "Up", "F1", "Escape", "Tab", "C-a", "C-g", "Home", "DC")
        run.term.keys(None, *(["BSpace"] * 50))
        run.wait_screen("row 7 empty after the backspaces", lambda s: not s[6].strip(), 10)
        check(blank_rows_below(run.term.screen(), 9), "rows below 8 written:\n" + run.screen_text())
        # A pasted burst of 200 characters runs through several words.
        burst = ("abcdefghij" * 20)
        run.term.keys(burst)
        run.wait_screen("the burst to be typed",
                        lambda s: s[3].startswith("Please type: ") and
                        not s[3].startswith("Please type: " + first + " "), 15)
        time.sleep(1.0)
        screen = run.term.screen()
        check(blank_rows_below(screen, 9), "rows below 8 written:\n" + "\n".join(screen))
        check(not screen[2].strip(), "row 3 written:\n" + "\n".join(screen))
        # (The burst may end at the empty word between two sentences: the
        # terminal then shows the prompt without its trailing space.)
        check(screen[3].startswith("Please type:"), "row 4 lost:\n" + "\n".join(screen))
        check(run.term.exit_code() is None, "the tutor ended")


def marks_all_right(row, word):
    """Row 8 holds one right mark for each character of the word."""
    return row.rstrip() == " " + "_" * len(word)


def scenario_keys_while_say_waits(opts):
    with Run(opts) as run:
        words = [w for w in run.jump_to(50) if w]
        # Nobody takes requests for a while: typing goes on meanwhile and no
        # key is lost. The last word stays unfinished so that row 8 still
        # shows its marks.
        run.listener.paused = True
        run.term.keys(words[0] + " " + words[1] + " " + words[2])
        time.sleep(2.0)
        run.listener.paused = False
        run.wait_row(7, " " + words[2], 20)
        run.wait_row(4, "Please type: " + words[2] + " ", 5)
        check(marks_all_right(run.term.row(8), words[2]),
              "a key went missing or wrong: %r" % run.term.row(8))
        # The check itself can fail: one wrong key shows at once.
        run.term.keys("#")
        run.wait_row(8, " " + "_" * len(words[2]) + "X", 10)
        check(not marks_all_right(run.term.row(8), words[2]), "a wrong key passed the check")


def scenario_idle_after_last(opts):
    with Run(opts) as run:
        paragraphs = book_paragraphs(opts.book)
        last = max(i for i, p in enumerate(paragraphs) if p)
        run.wait_row(4, "Please type: ", 40)
        run.listener.say("chapter %d " % (last - 1))
        # "result" abandons a paragraph: use it to pass the last two.
        for p in (last - 1, last):
            run.wait_paragraph(p)
            run.wait_row(4, "Please type: ", 10)
            run.listener.say("result ")
            run.wait_spoken("Please say 'continue' when finished viewing this page.")
            run.listener.spoken.clear()
            run.listener.say("continue ")
        run.wait_row(1, "Verdel Typing Tutor v1.00", 15)
        run.wait_row(3, " Normal", 5)
        # 81 characters: the last one wraps onto row 2, which is then blanked.
        # (The empty message after "continue" may blank row 1 in between; the
        # status screen draws it again every second.)
        run.wait_screen("the whole title on row 1",
                        lambda s: s[0].rstrip().endswith("800-555-010"), 5)
        # Commands have no effect any more.
        run.listener.say("exit program ")
        time.sleep(3)
        check(run.term.exit_code() is None, "exit program ended the finished tutor")
        run.wait_row(1, "Verdel Typing Tutor v1.00", 5)


# ---- with a window that looks once a clock second ------------------------

LOCATE_WORD = "oligarchy"


def first_paragraph_with(opts, word):
    return next(i for i, p in enumerate(book_paragraphs(opts.book)) if word in p.lower())


def busy_command(opts, moment, command):
    """Says a command while the tutor's main thread is busy speaking, then
    checks that it acts on that command's own phrase."""
    with Run(opts, real_timing=True) as run:
        if moment == "startup":
            # The command reader runs once the first request after the probe
            # has been written.
            run.wait_spoken("Loading verdel typing tutor application", 30)
        elif moment == "help":
            run.wait_row(4, "Please type: ", 40)
            run.listener.say("help ")
            run.wait_spoken("to jump to a chapter", 30)
        elif moment == "presentation":
            run.jump_to(20)
            run.listener.say("result ")
            run.wait_spoken("Please say 'continue' when finished viewing this page.", 20)
            # The window is slow to take the announcement, so the tutor is
            # still presenting when the command's phrase and the empty
            # message after it have both been read.
            run.listener.paused = True
            run.listener.say("continue ")
            run.wait_paragraph(21, 20)
            threading.Timer(3.0, lambda: setattr(run.listener, "paused", False)).start()
        if command == "chapter":
            run.listener.say("chapter 100 ")
            run.wait_paragraph(100, 40)
        else:
            run.listener.say("locate %s " % LOCATE_WORD)
            run.wait_row(2, 'Finding: "%s"    -- is this correct?' % LOCATE_WORD, 40)
            run.listener.say("yes ")
            run.wait_paragraph(first_paragraph_with(opts, LOCATE_WORD), 20)


def busy_scenario(moment, command):
    def scenario(opts):
        busy_command(opts, moment, command)
    scenario.__name__ = "scenario_%s_during_%s" % (command, moment)
    return scenario


BUSY_SCENARIOS = [busy_scenario(m, c) for m in ("help", "presentation", "startup")
                  for c in ("chapter", "locate")]


def scenario_repeated_word_spoken(opts):
    # "had had": the same word twice, typed faster than the window looks.
    paragraphs = book_paragraphs(opts.book)
    p = next(i for i, t in enumerate(paragraphs) if " had had " in t)
    with Run(opts) as run:
        words = [w for w in run.jump_to(p) if w]
        at = next(i for i in range(len(words) - 1) if words[i] == words[i + 1] == "had")
        run.term.keys(" ".join(words[:at - 1]) + " ")
        run.wait_row(4, "Please type: " + words[at - 1] + " ", 30)
        run.listener.real_timing = True
        # Typed just after a clock second begins, so that both "had" become
        # due within that same second.
        while time.time() % 1.0 > 0.05:
            time.sleep(0.005)
        run.term.keys(" ".join(words[at - 1:at + 3]) + " ")
        expected = words[at:at + 4]  # each word is spoken when it is due

        def spoken_in_order():
            said = run.listener.said()
            return any(said[i:i + 4] == expected for i in range(len(said)))
        wait_for("%r spoken one after the other" % expected, spoken_in_order, 30,
                 lambda: run.listener.said()[-8:])


def scenario_heard_link(opts):
    # A heard.txt that is a symbolic link is neither read nor emptied.
    with Run(opts) as run:
        run.wait_row(4, "Please type: ", 40)
        target = os.path.join(run.home, "elsewhere.txt")
        record = bytes((b + SHIFT) % 256 for b in stamp() + b"help ")
        with open(target, "wb") as f:
            f.write(record)
        link = os.path.join(run.home, "link.tmp")
        os.symlink(target, link)
        os.replace(link, run.listener.heard)
        time.sleep(3.0)
        check(open(target, "rb").read() == record, "the link's target was changed")
        check("help page" not in run.screen_text(), "a phrase was read through the link")
        os.unlink(run.listener.heard)
        run.listener.say("chapter 12 ")  # the reader goes on
        run.wait_paragraph(12)


def scenario_speak_link(opts):
    # A speak.txt that is a symbolic link is never written through.
    with Run(opts) as run:
        words = [w for w in run.jump_to(30) if w]
        run.listener.paused = True
        target = os.path.join(run.home, "elsewhere.txt")
        with open(target, "wb") as f:
            f.write(b"precious")
        link = os.path.join(run.home, "link.tmp")
        os.symlink(target, link)
        os.replace(link, run.listener.speak)
        run.term.keys(words[0] + " " + words[1] + " ")
        run.wait_row(4, "Please type: " + words[2] + " ", 20)
        time.sleep(5.0)  # longer than Say waits for a request to be taken
        check(open(target, "rb").read() == b"precious", "written through the link")
        os.unlink(run.listener.speak)
        run.listener.paused = False
        run.term.keys(words[2] + " ")
        run.wait_spoken(words[3], 20)


def book_not_a_file(kind):
    def scenario(opts):
        with Run(opts, book=kind) as run:
            run.wait_screen("the missing-text report",
                            lambda s: "Reason: Orvane (text) is missing!" in s, 30)
            run.wait_exit(15)
    scenario.__name__ = "scenario_book_is_" + kind
    return scenario


def scenario_signals_restore_terminal(opts):
    # Native only: the terminal mode after SIGINT, SIGTERM and SIGHUP.
    for sig in ("INT", "TERM", "HUP"):
        with Run(opts) as run:
            run.wait_row(4, "Please type: ", 40)
            pid = run.term.program_pid()
            check(pid is not None, "no tutor process")
            subprocess.run(["kill", "-" + sig, str(pid)], check=True)
            run.wait_exit(10)
            check(run.term.terminal_restored(), "terminal left in raw mode after SIG" + sig)


SCENARIOS = [
    scenario_startup_messages,
    scenario_startup_with_listener,
    scenario_chapter_and_typing,
    scenario_help_and_exit,
    scenario_help_continue,
    scenario_results,
    scenario_locate,
    scenario_no_listener,
    scenario_missing_book,
    scenario_altered_book,
    scenario_missing_home,
    scenario_hostile_keys,
    scenario_idle_after_last,
    scenario_keys_while_say_waits,
    scenario_signals_restore_terminal,
    scenario_repeated_word_spoken,
    scenario_heard_link,
    scenario_speak_link,
    book_not_a_file("fifo"),
    book_not_a_file("directory"),
] + BUSY_SCENARIOS


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--book", required=True)
    ap.add_argument("--wine", action="store_true")
    ap.add_argument("--stand-in", dest="stand_in", required=True,
                    help="the stand-in listening window, built for the same target")
    ap.add_argument("-k", dest="only", default="")
    ap.add_argument("-j", dest="jobs", type=int, default=3)
    opts = ap.parse_args()
    opts.exe = os.path.abspath(opts.exe)
    opts.book = os.path.abspath(opts.book)
    opts.stand_in = os.path.abspath(opts.stand_in)
    chosen = [s for s in SCENARIOS
              if not opts.only or s.__name__ == "scenario_" + opts.only]
    if not chosen:
        print("no scenario named %r" % opts.only)
        print("0 passed, 1 failed")
        return 1
    results = {}

    def one(s):
        start = time.time()
        try:
            s(opts)
            results[s.__name__] = (True, time.time() - start, "")
        except Exception as e:  # a failed scenario must not stop the others
            detail = str(e) if isinstance(e, Failure) else traceback.format_exc()
            results[s.__name__] = (False, time.time() - start, detail)

    # A few at a time: most of a scenario is the tutor's own fixed waits.
    pending = list(chosen)
    active = []
    while pending or active:
        while pending and len(active) < opts.jobs:
            t = threading.Thread(target=one, args=(pending.pop(0),))
            t.start()
            active.append(t)
        for t in list(active):
            t.join(0.1)
            if not t.is_alive():
                active.remove(t)
    passed = failed = 0
    kind = "wine" if opts.wine else "native"
    for s in chosen:
        ok, secs, detail = results[s.__name__]
        print("%s %s %s (%.1f s)" % ("PASS" if ok else "FAIL", kind, s.__name__, secs))
        if not ok:
            print("    " + detail.replace("\n", "\n    "))
        passed += ok
        failed += not ok
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
