"""The real tutor and the real listening window together on Linux, as a
learner has them: the tutor in an 80x25 tmux session, `hearken` started by
the tutor from the install directory and running headless, the real speech
component registered from the install directory (as the installer leaves it)
in its simulation mode. Phrases are "spoken" into the simulation inbox;
what the tutor has said is read from the simulation log.

Used by the soak (tests/soak/soak.py) and the fault scenarios
(faults_e2e.py)."""
import os
import random
import shutil
import subprocess
import tempfile
import time

import hearken_e2e as he
import tutor_e2e

Failure = tutor_e2e.Failure
check = tutor_e2e.check

HELP_DONE = "Please say 'continue' when you are finished reading this help page."
RESULTS_DONE = "Please say 'continue' when finished viewing this page."
KEYWORDS = ["locate", "continue", "exit program", "result", "chapter", "help", "yes ", "no "]


def headless_environment():
    """The tmux server and everything it starts inherit this process's
    environment: without a display there, hearken runs headless."""
    os.environ.pop("DISPLAY", None)
    os.environ.pop("WAYLAND_DISPLAY", None)


def announcement(p):
    return "The next paragraph is  %d Of the text." % p


def rss_kib(pid):
    """Resident memory of a process in KiB, or None when it is gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except (OSError, ValueError):
        return None
    return None


def alive(pid):
    """True while the process runs (a zombie counts as ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


class NotPermitted(Exception):
    pass


class Pair:
    """One install directory, the component registered from it, the tutor
    started in tmux; the tutor finds no window and starts hearken."""

    def __init__(self, opts, start=True, tmpfs=False):
        self.opts = opts
        self.root = tempfile.mkdtemp(prefix="verdel-pair-")
        self.home = os.path.join(self.root, "home")
        os.makedirs(self.home)
        self.mounted = False
        self.procs = []
        if tmpfs:
            # An install directory of its own file system: room for the
            # programs and the book and a little more, so it can be filled
            # or made read-only.
            need = sum(os.path.getsize(f) for f in (opts.hearken, opts.comlib, opts.component,
                                                    opts.book))
            r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dk" % (need // 1024 + 256),
                                "tmpfs", self.home], capture_output=True, text=True)
            if r.returncode != 0:
                shutil.rmtree(self.root, ignore_errors=True)
                raise NotPermitted("cannot mount a tmpfs here: " + r.stderr.strip())
            self.mounted = True
        self.speak = os.path.join(self.home, "speak.txt")
        self.heard = os.path.join(self.home, "heard.txt")
        self.sim = os.path.join(self.root, "sim")
        self.inbox = os.path.join(self.sim, "inbox")
        os.makedirs(self.inbox)
        self.dropped = 0
        self.term = None
        self.hearken_pid = None
        self.paragraphs = tutor_e2e.book_paragraphs(opts.book)
        for src, name in ((opts.hearken, "hearken"), (opts.comlib, None),
                          (opts.component, None), (opts.book, "orvane.txt")):
            shutil.copy(src, os.path.join(self.home, name or os.path.basename(src)))
        self.component = os.path.join(self.home, os.path.basename(opts.component))
        self.env = {"VERDEL_HOME": self.home, "XDG_DATA_HOME": os.path.join(self.root, "xdg"),
                    "XSPEECHKIT_SIMULATE": self.sim}
        try:
            r = he.run_to_files([opts.regsvr, "-s", self.component],
                                dict(os.environ, **self.env), self.root)
            check(r.returncode == 0, "registration failed: %s %s" % (r.stdout, r.stderr))
            if start:
                self.start()
        except BaseException:
            self.close()
            raise

    # ---- the two programs
    def start(self):
        """The tutor; it starts hearken unless one is running."""
        self.term = tutor_e2e.Terminal(tutor_e2e.shellquote(self.opts.tutor), self.env,
                                       self.root)
        if self.hearken_pid:
            self.wait_text("Speech Component Already running!", 30)
            return
        self.wait_text("Starting Speech Component...", 30)
        self.hearken_pid = tutor_e2e.wait_for("hearken to start", self.find_hearken, 20,
                                              self.term.screen)

    def start_hearken(self):
        """hearken started by hand (as the learner would), its standard
        error in a file."""
        self.hearken_err = os.path.join(self.root, "hearken-stderr-%d.txt" % len(self.procs))
        with open(self.hearken_err, "wb") as err:
            proc = subprocess.Popen([os.path.join(self.home, "hearken")],
                                    env=dict(os.environ, **self.env), cwd=self.root,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=err)
        self.procs.append(proc)
        self.hearken_pid = proc.pid
        return proc

    def hearken_stderr_text(self):
        try:
            with open(self.hearken_err, encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def find_hearken(self):
        for pid in he.processes_mentioning([os.path.join(self.home, "hearken")]):
            if alive(pid):
                return pid
        return None

    def tutor_pid(self):
        return self.term.program_pid()

    def tutor_running(self):
        return self.term.exit_code() is None and self.tutor_pid() is not None

    # ---- the learner
    def say(self, phrase):
        """The phrase as the recogniser delivers it, every word followed by
        a space."""
        self.dropped += 1
        name = "%06d.txt" % self.dropped
        temp = os.path.join(self.inbox, "." + name)
        with open(temp, "wb") as f:
            f.write(phrase.encode("utf-8"))
        os.rename(temp, os.path.join(self.inbox, name))

    def spoken(self):
        try:
            with open(os.path.join(self.sim, "spoken.log"), "rb") as f:
                return f.read().decode("utf-8", "replace").splitlines()
        except OSError:
            return []

    def count_spoken(self, prefix):
        return sum(1 for s in self.spoken() if s.startswith(prefix))

    def wait_spoken_count(self, prefix, count, timeout=30.0):
        tutor_e2e.wait_for("%r spoken %d times" % (prefix, count),
                           lambda: self.count_spoken(prefix) >= count, timeout,
                           lambda: self.term.screen() + ["--- spoken ---"] + self.spoken()[-10:] +
                           ["--- install directory ---"] + self.listing())

    def listing(self):
        """The install directory's exchange files, decoded, for a failure's
        report."""
        lines = []
        for name in ("speak.txt", "heard.txt"):
            path = os.path.join(self.home, name)
            try:
                with open(path, "rb") as f:
                    data = f.read(200)
                sign = -1 if name == "speak.txt" else 1
                text = bytes((b - sign * 173) % 256 for b in data).decode("cp1252", "replace")
                lines.append("%s: %r" % (name, text))
            except OSError as e:
                lines.append("%s: %s" % (name, e.strerror))
        return lines

    # ---- the screen
    def screen_text(self):
        return "\n".join(self.term.screen())

    def wait_screen(self, what, predicate, timeout=30.0):
        return tutor_e2e.wait_for(what, lambda: predicate(self.term.screen()), timeout,
                                  self.term.screen)

    def wait_text(self, text, timeout=30.0):
        return self.wait_screen(repr(text), lambda s: any(text in r for r in s), timeout)

    def wait_row(self, n, text, timeout=30.0, column=1):
        return self.wait_screen("row %d to show %r" % (n, text),
                                lambda s: (s[n - 1] + " " * 80)[column - 1:].startswith(text),
                                timeout)

    def wait_paragraph(self, p, timeout=30.0):
        return self.wait_row(2, " %d 0" % p, timeout, column=60)

    def wait_prompt(self, timeout=60.0):
        """The word asked for on the prompt row."""
        row = self.wait_screen("the typing prompt",
                               lambda s: s[3].startswith("Please type: ") and s[3], timeout)
        return row[len("Please type: "):].split(" ")[0]

    def type_word(self, timeout=30.0):
        """Types the word asked for and a space; waits until the tutor asks
        for the next one (the position row counts the words)."""
        word = self.wait_prompt(timeout)
        s = self.term.screen()
        before = (s[1], s[3])
        self.term.keys(word + " ")
        self.wait_screen("the tutor to take %r" % word, lambda s: (s[1], s[3]) != before,
                         timeout)
        return word

    # ---- the book
    def usable_paragraphs(self):
        return [i for i, p in enumerate(self.paragraphs) if 1 <= i <= 880 and
                len(p.split(" ")) >= 4 and all(ord(c) < 128 for c in p)]

    def next_with_words(self, p):
        """The paragraph the lesson goes on with after p: one with no words
        is presented and left at once."""
        q = p + 1
        while q < len(self.paragraphs) and not self.paragraphs[q].strip():
            q += 1
        return q

    def locate_words(self):
        """Words of the book that, said after "locate", hold no other
        keyword, each with the first paragraph that holds it."""
        found = {}
        for i, p in enumerate(self.paragraphs[:880]):
            for w in p.split(" "):
                w = w.strip(".,;:!?\"'()").lower()
                if len(w) >= 6 and w.isalpha() and w.isascii() and w not in found:
                    phrase = "locate %s " % w
                    if not any(k in phrase[6:] for k in KEYWORDS):
                        found[w] = None
        result = []
        for w in found:
            target = next(i for i, p in enumerate(self.paragraphs[:898]) if w in p.lower())
            result.append((w, target))
        return result

    def close(self):
        if self.term:
            self.term.close()
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        he.kill_processes_mentioning([self.root])
        if self.mounted:
            subprocess.run(["umount", "-l", self.home], capture_output=True)
        subprocess.run(["chmod", "-R", "u+rwX", self.root], capture_output=True)
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def rng(seed):
    return random.Random(seed)


def add_options(ap):
    ap.add_argument("--tutor", required=True)
    ap.add_argument("--hearken", required=True)
    ap.add_argument("--component", required=True)
    ap.add_argument("--comlib", required=True)
    ap.add_argument("--regsvr", required=True)
    ap.add_argument("--book", required=True)


def absolute_options(opts):
    for attr in ("tutor", "hearken", "component", "comlib", "regsvr", "book"):
        setattr(opts, attr, os.path.abspath(getattr(opts, attr)))


def wait_until(seconds):
    time.sleep(max(0.0, seconds - time.time()))
