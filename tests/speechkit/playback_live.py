#!/usr/bin/env python3
"""Speech really played (Linux): a private PulseAudio server with a null sink
is the default output, its monitor is recorded while the synthesiser speaks
three texts (two queued, the last synchronous, as the listening window's
prompt, a request and its goodbye), and the recording must hold all of their
speech: none cut off, none dropped, and the synchronous call back only once
its text had been played.

  playback_live.py --speak TOOL --regsvr TOOL --component LIB

Prints "N passed, M failed"."""
import argparse
import array
import os
import shutil
import subprocess
import sys
import tempfile
import time
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from pulse_server import PulseServer  # noqa: E402

TEXTS = ["Press the start listening button to recognize.",
         "Chapter twelve.  The harbour walls.",
         "I'm shutting down now. Good bye."]


def voiced_seconds(path):
    """Seconds of 20 ms frames whose RMS stands clearly above silence."""
    with wave.open(path, "rb") as w:
        rate, channels, width = w.getframerate(), w.getnchannels(), w.getsampwidth()
        assert width == 2, "16-bit samples expected"
        samples = array.array("h", w.readframes(w.getnframes()))
    if channels > 1:
        samples = samples[::channels]
    frame = rate // 50
    voiced = 0
    for start in range(0, len(samples) - frame + 1, frame):
        chunk = samples[start:start + frame]
        if (sum(s * s for s in chunk) / frame) ** 0.5 > 300:
            voiced += 1
    return voiced / 50.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--speak", required=True)
    ap.add_argument("--regsvr", required=True)
    ap.add_argument("--component", required=True)
    opts = ap.parse_args()
    root = tempfile.mkdtemp(prefix="verdel-playback-")
    pulse = rec = None
    ok = False
    try:
        pulse = PulseServer(os.path.join(root, "pulse"))
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(root, "xdg"))
        env.update(pulse.env)
        env.pop("XSPEECHKIT_SIMULATE", None)
        subprocess.run([opts.regsvr, "-s", opts.component], env=env, check=True)
        recording = os.path.join(root, "played.wav")
        rec = subprocess.Popen(["parecord", "-d", "vmic.monitor", "--rate=16000", "--channels=1",
                                "--format=s16le", "--file-format=wav", recording], env=env)
        time.sleep(0.5)
        subprocess.run([opts.speak] + TEXTS, env=env, check=True, timeout=120)
        time.sleep(0.3)  # what is still in the recorder's buffer
        rec.terminate()
        rec.wait()
        rec = None
        expected = 0.0
        for i, text in enumerate(TEXTS):
            made = os.path.join(root, "text%d.wav" % i)
            subprocess.run(["espeak-ng", "-v", "en-us", "-w", made, text], check=True)
            expected += voiced_seconds(made)
        played = voiced_seconds(recording)
        print("speech made %.2f s, played %.2f s" % (expected, played))
        ok = played >= 0.9 * expected
        if not ok:
            print("FAIL: part of the speech was not played")
    except Exception as e:  # reported as a failure, never as a hang
        print("FAIL: %s" % e)
    finally:
        if rec and rec.poll() is None:
            rec.kill()
            rec.wait()
        if pulse:
            pulse.stop()
        shutil.rmtree(root, ignore_errors=True)
    print("%d passed, %d failed" % (1 if ok else 0, 0 if ok else 1))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
