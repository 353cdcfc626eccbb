"""A private PulseAudio server for tests: a null sink (without rewinds, so a
new stream loses nothing) that is the default output, and its monitor the
default input, so what is played there is what a microphone hears.

    with PulseServer(folder) as pulse:
        env.update(pulse.env)       # PULSE_SERVER for every client
"""
import os
import subprocess
import time


class PulseServer:
    def __init__(self, folder, speaker=False):
        """speaker: programs play into a second null sink of their own, so
        that only what is played into "vmic" reaches the microphone (as with
        a headset)."""
        self.folder = folder
        os.makedirs(os.path.join(folder, "home"), exist_ok=True)
        os.chmod(folder, 0o700)
        self.env = {"PULSE_SERVER": "unix:%s/native" % folder}
        script = os.path.join(folder, "vmic.pa")
        with open(script, "w") as f:
            f.write("load-module module-native-protocol-unix auth-anonymous=1 socket=%s/native\n"
                    "load-module module-null-sink sink_name=vmic rate=16000 channels=1 "
                    "norewinds=1\nset-default-sink vmic\nset-default-source vmic.monitor\n" %
                    folder)
            if speaker:
                f.write("load-module module-null-sink sink_name=speaker rate=22050 channels=1\n"
                        "set-default-sink speaker\n")
        env = dict(os.environ, HOME=os.path.join(folder, "home"), XDG_RUNTIME_DIR=folder)
        env.update(self.env)
        self.proc = subprocess.Popen(
            ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "-F", script,
             "--log-target=file:%s/pa.log" % folder],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while subprocess.run(["pactl", "info"], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL).returncode != 0:
            if time.time() > deadline or self.proc.poll() is not None:
                self.stop()
                raise RuntimeError("PulseAudio did not start")
            time.sleep(0.05)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
