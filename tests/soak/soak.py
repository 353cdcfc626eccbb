#!/usr/bin/env python3
"""A learner's long session: the real tutor and the real `hearken` (headless,
the speech component in simulation mode) for a given time, with a scripted
learner who types the words asked for and speaks commands in turn: "chapter N",
"help" then "continue", "result" then "continue", "locate WORD" then "yes".

Every command must be acted on exactly once (the screen's position row and
the texts the tutor had spoken), neither program may end, every wait is
bounded (a tutor that stops answering fails the run), and the resident
memory of both processes, sampled every minute from /proc, must stay flat
once warmed up (the first sample after a minute against the last).

  soak.py --minutes 30 --tutor verdel101 --hearken hearken --component XSpeechKit.so
      --comlib libverdelcom.so --regsvr verdel-regsvr --book orvane.txt [--seed N]

Prints the samples and the commands said and acted on; exit code 0 when the
run held."""
import argparse
import os
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import pair  # noqa: E402

# Growth allowed between the warmed-up sample and the last one. A leak of a
# few hundred bytes per command over a long run exceeds it; the allocator's
# ordinary ups and downs do not.
RSS_GROWTH_LIMIT_KIB = 1024


class Sampler:
    """Resident memory of both programs, now and then every minute."""

    def __init__(self, world, interval=60.0):
        self.world = world
        self.interval = interval
        self.samples = []  # (seconds since start, tutor KiB, hearken KiB)
        self.start = time.time()
        self.stopping = threading.Event()
        self.tutor_pid = world.tutor_pid()
        self.take()
        self.thread = threading.Thread(target=self.loop, daemon=True)
        self.thread.start()

    def take(self):
        self.samples.append((time.time() - self.start, pair.rss_kib(self.tutor_pid),
                             pair.rss_kib(self.world.hearken_pid)))

    def loop(self):
        n = 1
        while not self.stopping.wait(max(0.0, self.start + n * self.interval - time.time())):
            self.take()
            n += 1

    def stop(self):
        self.stopping.set()
        self.thread.join()


class Learner:
    def __init__(self, world, seed):
        self.world = world
        self.rng = pair.rng(seed)
        self.chapters = world.usable_paragraphs()
        self.words = world.locate_words()
        self.said = {"chapter": 0, "help": 0, "result": 0, "locate": 0, "continue": 0, "yes": 0}
        self.acted = dict(self.said)
        self.typed = 0

    def type_some(self):
        for _ in range(self.rng.randint(1, 3)):
            self.world.type_word()
            self.typed += 1

    def position(self):
        self.world.wait_prompt()
        row = (self.world.term.row(2) + " " * 80)[59:].split()
        return int(row[0])

    def chapter(self):
        w = self.world
        p = self.rng.choice(self.chapters)
        before = w.count_spoken(pair.announcement(p))
        w.say("chapter %d " % p)
        self.said["chapter"] += 1
        self.arrive(p, before, "chapter")

    def arrive(self, target, before, command):
        """The lesson moved to paragraph target for command, announced once."""
        w = self.world
        w.wait_paragraph(target)
        w.wait_spoken_count(pair.announcement(target), before + 1)
        self.acted[command] += 1
        self.type_some()
        pair.check(w.count_spoken(pair.announcement(target)) == before + 1,
                   "paragraph %d announced more than once" % target)

    def page(self, keyword, done_text, mark):
        """A page that waits for "continue"; the lesson then goes on with
        the next paragraph."""
        w = self.world
        p = self.position()
        shown = w.count_spoken(done_text)
        w.say(keyword + " ")
        self.said[keyword] += 1
        w.wait_spoken_count(done_text, shown + 1)
        w.wait_text(mark)
        self.acted[keyword] += 1
        w.say("continue ")
        self.said["continue"] += 1
        w.wait_paragraph(w.next_with_words(p))
        self.acted["continue"] += 1
        pair.check(w.count_spoken(done_text) == shown + 1, "%r page shown twice" % keyword)
        self.type_some()

    def locate(self):
        w = self.world
        word, target = self.rng.choice(self.words)
        before = w.count_spoken(pair.announcement(target))
        w.say("locate %s " % word)
        self.said["locate"] += 1
        w.wait_row(2, 'Finding: "%s"    -- is this correct?' % word)
        self.acted["locate"] += 1
        w.say("yes ")
        self.said["yes"] += 1
        # "Found @" shows only for a moment: the jump itself is the proof.
        self.arrive(target, before, "yes")

    def one_round(self):
        self.chapter()
        self.page("help", pair.HELP_DONE, pair.HELP_DONE)
        # The results page is longer than the screen: its last rows stay.
        self.page("result", pair.RESULTS_DONE, "~ ")
        self.locate()


def run(opts):
    pair.headless_environment()
    with pair.Pair(opts) as world:
        world.wait_prompt(60)
        sampler = Sampler(world, opts.interval)
        learner = Learner(world, opts.seed)
        end = sampler.start + opts.minutes * 60
        rounds = 0
        failure = None
        try:
            while time.time() < end:
                learner.one_round()
                rounds += 1
                pair.check(world.tutor_running(), "the tutor ended")
                pair.check(pair.alive(world.hearken_pid), "hearken ended")
            # The last sample after the last round, both still running.
            pair.wait_until(sampler.start + (len(sampler.samples)) * opts.interval)
        except Exception as e:  # reported below with the figures so far
            failure = e
        finally:
            sampler.stop()
        if failure is None:
            sampler.take()
        report(sampler, learner, rounds)
        if failure is not None:
            raise failure
        check_flat(sampler.samples, opts.interval)
        pair.check(learner.said == learner.acted,
                   "said %r, acted on %r" % (learner.said, learner.acted))
        pair.check(world.tutor_running() and pair.alive(world.hearken_pid), "a program ended")


def check_flat(samples, interval):
    warm = [s for s in samples if s[0] >= interval - 1]
    pair.check(len(warm) >= 2, "too few samples to judge memory: %r" % samples)
    for column, name in ((1, "tutor"), (2, "hearken")):
        first, last = warm[0][column], warm[-1][column]
        pair.check(first is not None and last is not None, "%s gone while sampled" % name)
        pair.check(last - first <= RSS_GROWTH_LIMIT_KIB,
                   "%s resident memory grew from %d KiB to %d KiB" % (name, first, last))


def report(sampler, learner, rounds):
    print("resident memory (VmRSS, KiB), sampled every %.0f s:" % sampler.interval)
    print("  %8s %10s %10s" % ("second", "verdel101", "hearken"))
    for t, a, b in sampler.samples:
        print("  %8.0f %10s %10s" % (t, a, b))
    print("rounds: %d, words typed: %d" % (rounds, learner.typed))
    for k in learner.said:
        print("  %-9s said %4d, acted on %4d" % (k, learner.said[k], learner.acted[k]))
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser()
    pair.add_options(ap)
    ap.add_argument("--minutes", type=float, default=30.0)
    ap.add_argument("--interval", type=float, default=60.0, help="seconds between samples")
    ap.add_argument("--seed", type=int, default=101)
    opts = ap.parse_args()
    pair.absolute_options(opts)
    start = time.time()
    try:
        run(opts)
    except Exception as e:
        print("FAIL soak (%.0f s): %s" % (time.time() - start, e))
        return 1
    print("PASS soak (%.0f s)" % (time.time() - start))
    return 0


if __name__ == "__main__":
    sys.exit(main())
