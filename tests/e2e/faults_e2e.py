#!/usr/bin/env python3
"""Faults while the real tutor and the real `hearken` run together on Linux
(hearken headless, the speech component in simulation mode): the install
directory deleted, read-only or full, an exchange file replaced by a
directory, either program killed, the component's library gone. Each ends
in a clear message or a quiet going-on: no crash, no hang, the other
program goes on, and once the fault is mended the two work together again.

  faults_e2e.py --tutor EXE --hearken EXE --component LIB --comlib LIB
      --regsvr TOOL --book BOOK -k SCENARIO

Prints one line per scenario and a closing "N passed, M failed" line; exit
code 77 when the scenario's fault cannot be made here (no tmpfs may be
mounted)."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pair  # noqa: E402

check = pair.check
SKIPPED = 77


def both_alive(w):
    check(w.tutor_running(), "the tutor ended:\n" + w.screen_text())
    check(pair.alive(w.hearken_pid), "hearken ended")


def keeps_typing(w, words=2):
    """The tutor answers keys: each word typed is taken (and the next one
    sent to be spoken, whether or not anyone takes it)."""
    for _ in range(words):
        w.type_word(timeout=30)


def works_together(w, p):
    """Both directions: "chapter p" heard reaches the tutor, and the
    announcement it asks for is spoken."""
    before = w.count_spoken(pair.announcement(p))
    w.say("chapter %d " % p)
    w.wait_paragraph(p)
    w.wait_spoken_count(pair.announcement(p), before + 1)


def mended(w):
    """The fault mended: the window takes the request the tutor left while
    it could not (until one is taken the tutor does not wait on it, and a
    later request replaces it)."""
    pair.tutor_e2e.wait_for("the request left to be taken",
                            lambda: not os.path.lexists(w.speak), 15, w.listing)


def lost_while_broken(w, p):
    """A command said while the fault lasts cannot reach the tutor; it must
    not surface later either."""
    w.say("chapter %d " % p)
    time.sleep(3)
    check((w.term.row(2) + " " * 80)[59:].split()[:1] != [str(p)], "paragraph %d reached" % p)


def scenario_home_deleted(opts):
    """The install directory deleted under both: each goes on quietly (the
    tutor's requests and the window's phrases have nowhere to go); made
    again, the two work together again."""
    with pair.Pair(opts) as w:
        w.wait_prompt()
        works_together(w, 40)
        shutil.rmtree(w.home)
        keeps_typing(w)
        lost_while_broken(w, 50)
        both_alive(w)
        os.makedirs(w.home)
        mended(w)
        works_together(w, 60)
        keeps_typing(w)
        both_alive(w)


def scenario_home_read_only(opts):
    """The install directory's file system made read-only (root included):
    nothing can be written; both go on; writable again, they work together."""
    with pair.Pair(opts, tmpfs=True) as w:
        w.wait_prompt()
        works_together(w, 40)
        subprocess.run(["mount", "-o", "remount,ro", w.home], check=True)
        keeps_typing(w)
        lost_while_broken(w, 50)
        both_alive(w)
        subprocess.run(["mount", "-o", "remount,rw", w.home], check=True)
        mended(w)
        works_together(w, 60)
        keeps_typing(w)
        both_alive(w)


def fill(path):
    """Writes into a file until the file system is full, to the last byte."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    try:
        for size in (65536, 4096, 1):
            while True:
                try:
                    os.write(fd, b"\0" * size)
                except OSError:
                    break
    finally:
        os.close(fd)


def scenario_home_full(opts):
    """The install directory's file system full: writes fail, neither
    program leaves a half record behind that the other acts on, both go on;
    with room again they work together."""
    with pair.Pair(opts, tmpfs=True) as w:
        w.wait_prompt()
        works_together(w, 40)
        filler = os.path.join(w.home, "filler")
        # Kept full: a request taken, a file deleted, frees a page that the
        # filler takes back at once, as a disk other programs fill.
        stop = threading.Event()

        def keep_full():
            while not stop.wait(0.01):
                fill(filler)

        keeper = threading.Thread(target=keep_full, daemon=True)
        fill(filler)
        keeper.start()
        try:
            keeps_typing(w, 3)
            # Quiet (the last request taken or given up), and full again.
            time.sleep(2)
            fill(filler)
            lost_while_broken(w, 50)
            both_alive(w)
        finally:
            stop.set()
            keeper.join()
        os.remove(filler)
        mended(w)
        works_together(w, 60)
        keeps_typing(w)
        both_alive(w)


def replaced_by_directory(opts, name):
    with pair.Pair(opts) as w:
        w.wait_prompt()
        works_together(w, 40)
        path = os.path.join(w.home, name)

        def replaced():
            try:
                os.remove(path)
            except OSError:
                pass
            try:
                os.mkdir(path)
                return True
            except FileExistsError:  # the program made it again meanwhile
                return False

        pair.tutor_e2e.wait_for("%s replaced by a directory" % name, replaced, 10)
        keeps_typing(w, 3)
        if name == "heard.txt":
            lost_while_broken(w, 50)
        both_alive(w)
        check(os.path.isdir(path), "%s no longer a directory" % name)
        os.rmdir(path)
        mended(w)
        works_together(w, 60)
        keeps_typing(w)
        both_alive(w)


def scenario_speak_is_directory(opts):
    """speak.txt a directory: the tutor's requests wait a bounded time and
    go unspoken, the window leaves the directory alone; removed, speech
    goes on."""
    replaced_by_directory(opts, "speak.txt")


def scenario_heard_is_directory(opts):
    """heard.txt a directory: phrases cannot be published, the tutor reads
    nothing; removed, commands reach it again."""
    replaced_by_directory(opts, "heard.txt")


def scenario_hearken_killed(opts):
    """hearken killed while it relays (phrases arriving, requests being
    taken): the tutor goes on, each Say waiting a bounded time; a hearken
    started again takes over, the request left on disk included."""
    with pair.Pair(opts) as w:
        w.wait_prompt()
        works_together(w, 40)
        w.say("chapter 45 ")
        w.term.keys(w.wait_prompt() + " ")
        time.sleep(0.7)
        os.kill(w.hearken_pid, signal.SIGKILL)
        w.wait_screen("hearken gone", lambda s: not pair.alive(w.hearken_pid), 10)
        keeps_typing(w, 3)
        check(w.tutor_running(), "the tutor ended")
        check(w.find_hearken() is None, "hearken started again by the tutor")
        w.start_hearken()
        mended(w)
        works_together(w, 60)
        keeps_typing(w)
        both_alive(w)


def scenario_tutor_killed(opts):
    """The tutor killed while it works (typing, requests being written): the
    window goes on relaying and speaking; a tutor started again finds it
    running and works with it."""
    with pair.Pair(opts) as w:
        w.wait_prompt()
        works_together(w, 40)
        w.term.keys(w.wait_prompt() + " ")
        os.kill(w.tutor_pid(), signal.SIGKILL)
        w.wait_screen("the tutor gone", lambda s: w.term.exit_code() is not None, 10)
        check(pair.alive(w.hearken_pid), "hearken ended with the tutor")
        w.say("help ")
        record = pair.tutor_e2e.wait_for("heard.txt", lambda: heard_record(w), 10)
        check(record[8:] == "help ", "heard.txt holds %r" % record)
        os.remove(w.heard)
        # The old terminal stays: closing it would hang up on hearken too.
        first = w.term
        os.remove(first.rcfile)  # the new tutor's terminal writes its own there
        try:
            w.start()
            w.wait_prompt()
            works_together(w, 60)
            keeps_typing(w)
            both_alive(w)
        finally:
            first.close()


def heard_record(w):
    try:
        with open(w.heard, "rb") as f:
            data = f.read()
    except OSError:
        return None
    return bytes((b - pair.tutor_e2e.SHIFT) % 256 for b in data).decode("cp1252") or None


def scenario_component_deleted(opts):
    """The component's library deleted after registration: hearken, started
    by the learner with no display, says it is not installed (on standard
    error, there being no window) and goes on taking requests unspoken; the
    tutor finds it running and the lesson goes on; phrases never come."""
    with pair.Pair(opts, start=False) as w:
        os.remove(w.component)
        hearken = w.start_hearken()
        pair.tutor_e2e.wait_for(
            "the message", lambda: w.hearken_stderr_text().count("SpeechKit not installed") == 2,
            10)
        w.start()
        w.wait_prompt()
        keeps_typing(w, 3)
        both_alive(w)
        check(w.spoken() == [], "spoken: %r" % w.spoken())
        lines = w.hearken_stderr_text().splitlines()
        check(lines == ["hearken: no display, running without a window",
                        "hearken: SpeechKit not installed", "hearken: SpeechKit not installed"],
              "stderr: %r" % lines)
        hearken.send_signal(signal.SIGTERM)
        code = hearken.wait(20)
        check(code == 0, "hearken's exit code %r" % code)
        keeps_typing(w)
        check(w.tutor_running(), "the tutor ended")


SCENARIOS = [scenario_home_deleted, scenario_home_read_only, scenario_home_full,
             scenario_speak_is_directory, scenario_heard_is_directory, scenario_hearken_killed,
             scenario_tutor_killed, scenario_component_deleted]


def main():
    ap = argparse.ArgumentParser()
    pair.add_options(ap)
    ap.add_argument("-k", dest="only", default="")
    opts = ap.parse_args()
    pair.absolute_options(opts)
    pair.headless_environment()
    chosen = [s for s in SCENARIOS if not opts.only or s.__name__ == "scenario_" + opts.only]
    if not chosen:
        print("no scenario named %r" % opts.only)
        print("0 passed, 1 failed")
        return 1
    passed = failed = skipped = 0
    for s in chosen:
        start = time.time()
        try:
            s(opts)
            status, detail = "PASS", ""
        except pair.NotPermitted as e:
            status, detail = "SKIP", str(e)
        except Exception as e:  # one failed scenario must not stop the others
            status = "FAIL"
            detail = str(e) if isinstance(e, pair.Failure) else traceback.format_exc()
        print("%s native %s (%.1f s)" % (status, s.__name__, time.time() - start))
        if detail:
            print("    " + detail.replace("\n", "\n    "))
        passed += status == "PASS"
        failed += status == "FAIL"
        skipped += status == "SKIP"
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    if failed:
        return 1
    return SKIPPED if skipped and not passed else 0


if __name__ == "__main__":
    sys.exit(main())
