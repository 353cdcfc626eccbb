#!/usr/bin/env python3
"""Makes a set of spoken utterances for bench/recognizer_bench with espeak-ng
and sox: every simple command, "chapter" with numbers spread over 1-999,
"locate" with runs of 1-3 words of the book, and speech that is no command
(sentences from outside the book, single words, noise bursts and coughs).

  recognizer_set.py --book book/orvane.txt --out DIR [--voices en-us,en-gb]
                    [--rates 140,180] [--perturb] [--seed N]

A voice is an espeak-ng voice ("en-us+f3"), or another synthesiser's when
that is installed: "flite:slt" (flite's voices: slt, rms, awb, kal16) or
"festival:cmu_us_slt_arctic_hts" (festival's voice names). Tune for speech in
general, not for one synthesiser: measure on both kinds.

Writes DIR/*.wav and DIR/manifest.tsv (file, class, expected text). With
--perturb each utterance also goes through a sox effect (pitch, tempo, noise,
reverberation, telephone band, low level) chosen in turn, to check that
results do not hang on clean synthetic speech."""
import argparse
import os
import random
import re
import subprocess
import sys

SIMPLE = ["help", "continue", "result", "exit program", "yes", "no"]

UNITS = "zero one two three four five six seven eight nine".split()
TEENS = "ten eleven twelve thirteen fourteen fifteen sixteen seventeen eighteen nineteen".split()
TENS = "_ _ twenty thirty forty fifty sixty seventy eighty ninety".split()


def number_words(n, with_and=False, a_hundred=False):
    if n == 0:
        return "zero"
    out = []
    h, rest = divmod(n, 100)
    if h:
        out += ["a" if (a_hundred and h == 1) else UNITS[h], "hundred"]
        if rest and with_and:
            out.append("and")
    if rest >= 20:
        out.append(TENS[rest // 10])
        if rest % 10:
            out.append(UNITS[rest % 10])
    elif rest >= 10:
        out.append(TEENS[rest - 10])
    elif rest:
        out.append(UNITS[rest])
    return " ".join(out)


def chapter_numbers(rng):
    """At least 50 numbers over 1-999: all teens, all tens, some of each
    hundred, with and without "and"; (number, spoken words)."""
    picks = [(n, number_words(n)) for n in list(range(10, 20)) + list(range(20, 100, 10))]
    picks += [(n, number_words(n)) for n in (1, 3, 7, 9, 21, 34, 45, 58, 66, 72, 87, 99)]
    for h in range(1, 10):
        a, b = rng.randrange(1, 100), rng.randrange(1, 100)
        picks.append((h * 100 + a, number_words(h * 100 + a, with_and=True)))
        picks.append((h * 100 + b, number_words(h * 100 + b)))
    picks.append((100, "a hundred"))
    picks.append((115, number_words(115, with_and=True, a_hundred=True)))
    picks.append((500, number_words(500)))
    return picks


FUNCTION_WORDS = set("""the a an and of in to was it on for from at with that by had were its
could she is them as not they who her out their he about no but his be when into up down
this i you we or so if all there which than then would said has have are been one two""".split())


def book_segments(text):
    """Runs of words joined by exactly one space and no punctuation, as the
    recogniser's grammar reads the book (lower case)."""
    segments = []
    for line in re.split(r"[\r\n\t]+", text):
        current = []
        for part in re.split(r"( +)", line):
            if not part:
                continue
            if part.startswith(" "):
                if len(part) > 1 and current:
                    segments.append(current)
                    current = []
                continue
            m = re.match(r"^([^A-Za-z0-9]*)(.*?)([^A-Za-z0-9]*)$", part)
            lead, core, trail = m.groups()
            if lead and current:
                segments.append(current)
                current = []
            ok = bool(core) and re.fullmatch(r"[A-Za-z0-9',-]+", core) is not None
            if ok and "," in core and not re.fullmatch(r"[0-9,]+", core):
                ok = False
            if ok:
                current.append(core.lower())
            elif current:
                segments.append(current)
                current = []
            if trail and current:
                segments.append(current)
                current = []
        if current:
            segments.append(current)
    return segments


def locate_phrases(book, rng, count=60):
    segments = book_segments(open(book, encoding="latin-1").read())
    phrases, seen = [], set()
    while len(phrases) < count:
        length = len(phrases) % 3 + 1
        seg = rng.choice(segments)
        if len(seg) < length:
            continue
        i = rng.randrange(0, len(seg) - length + 1)
        words = seg[i:i + length]
        if length == 1 and (words[0] in FUNCTION_WORDS or words[0].isdigit()):
            continue  # nobody locates "the"
        key = " ".join(words)
        if key in seen:
            continue
        seen.add(key)
        phrases.append(words)
    return phrases


SENTENCES = [
    "what time does the bus leave tomorrow morning",
    "i think we should order pizza tonight",
    "could you pass me the salt please",
    "the weather has been lovely this week",
    "my brother bought a new bicycle",
    "please turn off the lights when you go",
    "where did i put my glasses",
    "the meeting starts at half past nine",
    "she plays the violin every evening",
    "we are going to the cinema on friday",
    "this coffee is far too hot to drink",
    "the cat is sleeping on the sofa again",
    "how much does this jacket cost",
    "let me think about it for a moment",
    "the train was late because of the snow",
    "i forgot to water the plants",
    "can you hear the birds outside",
    "that was a really good film",
    "the children are playing in the garden",
    "our neighbours have a very loud dog",
    "i would like a cup of tea",
    "the printer is out of paper",
    "turn left at the next traffic light",
    "my phone battery is almost empty",
    "the shop closes at six today",
    "he always forgets his umbrella",
    "what a beautiful sunny afternoon",
    "the keyboard feels a bit sticky",
    "we should leave before it gets dark",
    "i am not sure what you mean",
]
SINGLE_WORDS = ["hello", "window", "banana", "seven", "coffee", "tomorrow", "music", "yellow",
                "garden", "picture", "exit", "chapter", "locate", "program", "continent",
                "nobody", "yesterday", "helmet", "resort", "computer"]

NOISES = [
    ["synth", "0.5", "pinknoise", "fade", "q", "0.02", "0.5", "0.2", "gain", "-8"],
    ["synth", "0.3", "brownnoise", "band", "600", "400", "fade", "p", "0.01", "0.3", "0.25", "gain", "-3"],
    ["synth", "1.2", "whitenoise", "gain", "-20"],
    ["synth", "0.2", "pinknoise", "band", "1200", "900", "fade", "p", "0.005", "0.2", "0.18", "gain", "-2"],
    ["synth", "0.8", "sine", "110", "gain", "-12"],
    ["synth", "0.6", "brownnoise", "tremolo", "8", "80", "gain", "-6"],
]
COUGH_GAP = ["synth", "0.12", "sine", "0", "gain", "-90"]


def run(cmd, stdin=None):
    subprocess.run(cmd, check=True, input=stdin, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def speak(voice, rate, text, path):
    """One utterance to a .wav: an espeak-ng voice ("en-us+f3"), or another
    synthesiser's ("flite:slt", "festival:cmu_us_slt_arctic_hts"), its
    speed scaled to about `rate` words a minute."""
    stretch = "%.2f" % (165.0 / float(rate))
    if voice.startswith("flite:"):
        run(["flite", "-voice", voice[6:], "--setf", "duration_stretch=" + stretch, "-t", text,
             "-o", path])
    elif voice.startswith("festival:"):
        run(["text2wave", "-o", path, "-eval", "(voice_%s)" % voice[9:], "-eval",
             "(Parameter.set 'Duration_Stretch %s)" % stretch], stdin=text.encode())
    else:
        run(["espeak-ng", "-v", voice, "-s", rate, "-w", path, text])


PERTURBATIONS = [
    ["pitch", "-250"],
    ["pitch", "300"],
    ["tempo", "1.15"],
    ["tempo", "0.88"],
    ["reverb", "40"],
    ["sinc", "300-3400"],
    ["gain", "-18"],
    ["noise"],  # pink noise mixed in at about 20 dB below the speech
]


def perturb(path, k, tmpdir):
    effect = PERTURBATIONS[k % len(PERTURBATIONS)]
    out = path + ".tmp.wav"
    if effect == ["noise"]:
        noise = os.path.join(tmpdir, "noise.wav")
        info = subprocess.run(["soxi", "-D", path], capture_output=True, text=True).stdout.strip()
        rate = subprocess.run(["soxi", "-r", path], capture_output=True, text=True).stdout.strip()
        run(["sox", "-n", "-r", rate, "-c", "1", "-b", "16", noise, "synth", info, "pinknoise",
             "gain", "-32"])
        run(["sox", "-m", path, noise, out])
    else:
        run(["sox", path, out] + effect)
    os.replace(out, path)
    return " ".join(effect)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--book", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--voices", default="en-us,en-gb,en-us+f3,en-gb-x-rp+m3")
    ap.add_argument("--rates", default="140,180")
    ap.add_argument("--perturb", action="store_true")
    ap.add_argument("--seed", type=int, default=7)
    ap.add_argument("--classes", default="simple,chapter,locate,sentence,word,noise")
    args = ap.parse_args()
    rng = random.Random(args.seed)
    os.makedirs(args.out, exist_ok=True)
    classes = args.classes.split(",")

    texts = []  # (class, spoken, expected)
    if "simple" in classes:
        texts += [("simple", s, s + " ") for s in SIMPLE]
    if "chapter" in classes:
        texts += [("chapter", "chapter " + w, "chapter %d " % n) for n, w in chapter_numbers(rng)]
    if "locate" in classes:
        texts += [("locate", "locate " + " ".join(p), "locate " + " ".join(p) + " ")
                  for p in locate_phrases(args.book, rng)]
    if "sentence" in classes:
        texts += [("sentence", s, "") for s in SENTENCES]
    if "word" in classes:
        texts += [("word", w, "") for w in SINGLE_WORDS]

    manifest = []
    k = 0
    for voice in args.voices.split(","):
        for rate in args.rates.split(","):
            for cls, spoken, expected in texts:
                name = "%s-%s-%s-%03d.wav" % (cls, re.sub(r"[+:]", "_", voice), rate, k)
                path = os.path.join(args.out, name)
                speak(voice, rate, spoken, path)
                if args.perturb:
                    perturb(path, k, args.out)
                manifest.append((name, cls, expected))
                k += 1
    if "noise" in classes:
        for i, effect in enumerate(NOISES):
            for rate in ("16000", "22050"):
                name = "noise-%d-%s.wav" % (i, rate)
                run(["sox", "-n", "-r", rate, "-c", "1", "-b", "16",
                     os.path.join(args.out, name)] + effect)
                manifest.append((name, "noise", ""))
            # A cough: two short bursts with a gap.
            name = "cough-%d.wav" % i
            parts = []
            for j, eff in enumerate([NOISES[1], COUGH_GAP, NOISES[3]]):
                p = os.path.join(args.out, "part%d.wav" % j)
                run(["sox", "-n", "-r", "16000", "-c", "1", "-b", "16", p] + eff)
                parts.append(p)
            run(["sox"] + parts + [os.path.join(args.out, name), "gain", str(-2 * i)])
            for p in parts:
                os.remove(p)
            manifest.append((name, "noise", ""))
    with open(os.path.join(args.out, "manifest.tsv"), "w") as f:
        for row in manifest:
            f.write("\t".join(row) + "\n")
    print("%d utterances in %s" % (len(manifest), args.out))


if __name__ == "__main__":
    sys.exit(main())
