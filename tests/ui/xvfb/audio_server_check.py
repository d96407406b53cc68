#!/usr/bin/python3
"""The desktop program's sound on a real audio server.

  audio_server_check.py VEXALO IMAGE OUTDIR [pulseaudio|pipewire]

Starts a sound server of its own (PulseAudio in user mode, or PipeWire with its PulseAudio
server) with a null sink, in a runtime folder of its own so it never meets a user's server, and
an Xvfb display. Runs `vexalo` on IMAGE (steady_note.nes: A4 on square 1, C#4 on square 2) with a
settings folder of its own and records the sink's monitor with parec:

  - 10 s with the default settings: both notes within 10 cents, no gap (no dropout of 50 ms or
    more, and at most 50 ms of dropouts in all);
  - the volume setting at a quarter: the sound is 12 dB lower;
  - square 2 switched off, then square 1: the note of that channel is gone, the other stays;
  - the server killed while the game runs: the program runs on, writes one log line and shows
    the "NoAudio" picture (screenshots in OUTDIR).

Exits with 77 (skipped) when a tool it needs is missing.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import wave

RATE = 44100
NOTES = {"A4": 440.0, "C#4": 440.0 * 2 ** (-8 / 12)}  # MIDI notes 69 and 61
STOPPED_LINE = "The sound output stopped; the game goes on without sound."
SINK = "vexalo_test"


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def skip(message):
    print("SKIPPED: " + message, flush=True)
    sys.exit(77)


try:
    import numpy as np
except ImportError:
    skip("python3-numpy is not installed")


def wait_for(what, test, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if test():
            return
        time.sleep(0.1)
    fail("timed out waiting for " + what)


class Session:
    def __init__(self, vexalo, image, outdir, server):
        self.vexalo, self.image, self.outdir, self.server = vexalo, image, outdir, server
        self.processes = []
        # Unix socket paths are short: the runtime folder lives in /tmp.
        self.runtime = tempfile.mkdtemp(prefix="vexalo-audio-")
        self.env = dict(os.environ)
        self.env.update({
            "XDG_RUNTIME_DIR": self.runtime,
            "HOME": os.path.join(self.runtime, "home"),
            "XDG_CONFIG_HOME": os.path.join(self.runtime, "config"),
            "PULSE_SERVER": "unix:" + os.path.join(self.runtime, "native"),
            "PULSE_RUNTIME_PATH": os.path.join(self.runtime, "pulse"),
            "VEXALO_SOUNDFONT": "", "VEXALO_MIDI_PORT": "", "VEXALO_LOG_STDERR": "1",
            "QT_QPA_PLATFORM": "xcb",
        })
        for key in ("DBUS_SESSION_BUS_ADDRESS", "PIPEWIRE_REMOTE", "JACK_DEFAULT_SERVER"):
            self.env.pop(key, None)
        os.makedirs(self.env["HOME"])

    def start(self, args, **kw):
        p = subprocess.Popen(args, env=self.env, **kw)
        self.processes.append(p)
        return p

    def close(self):
        for p in reversed(self.processes):
            if p.poll() is None:
                p.kill()
            p.wait()
        shutil.rmtree(self.runtime, ignore_errors=True)

    def pactl(self, *args):
        r = subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True,
                           timeout=10)
        return r.stdout if r.returncode == 0 else None

    # ---- the servers --------------------------------------------------------------------

    def start_sound_server(self):
        socket = self.env["PULSE_SERVER"][len("unix:"):]
        log = open(os.path.join(self.outdir, self.server + ".log"), "w")
        if self.server == "pulseaudio":
            self.sound = self.start(
                ["pulseaudio", "--daemonize=no", "--system=false", "-n", "--exit-idle-time=-1",
                 "--use-pid-file=no", "--disable-shm=yes", "--log-target=stderr",
                 "--load=module-null-sink sink_name=%s rate=%d" % (SINK, RATE),
                 "--load=module-native-protocol-unix socket=%s auth-anonymous=1" % socket],
                stdout=log, stderr=log)
        else:
            # The session manager needs a D-Bus session bus: one of the test's own.
            read, write = os.pipe()
            self.start(["dbus-daemon", "--session", "--nofork", "--print-address=%d" % write],
                       pass_fds=(write,), stdout=log, stderr=log)
            os.close(write)
            with os.fdopen(read) as f:
                self.env["DBUS_SESSION_BUS_ADDRESS"] = f.readline().strip()
            self.env["PULSE_SERVER"] = "unix:" + os.path.join(self.runtime, "pulse", "native")
            self.start(["pipewire"], stdout=log, stderr=log)
            wait_for("PipeWire", lambda: os.path.exists(os.path.join(self.runtime, "pipewire-0")),
                     10)
            self.start(["wireplumber"], stdout=log, stderr=log)
            # The program's sound goes to PipeWire's PulseAudio server: "the server" below.
            self.sound = self.start(["pipewire-pulse"], stdout=log, stderr=log)
        wait_for("the sound server", lambda: self.pactl("info") is not None, 10)
        if self.server == "pipewire":
            self.pactl("load-module", "module-null-sink", "sink_name=" + SINK,
                       "rate=%d" % RATE)
            self.pactl("set-default-sink", SINK)
        wait_for("the null sink", lambda: SINK in (self.pactl("list", "short", "sinks") or ""),
                 10)

    def start_display(self):
        read, write = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                    "-nolisten", "tcp"], pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        if not number:
            fail("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number

    # ---- the program ------------------------------------------------------------------------

    def run_program(self, settings):
        folder = os.path.join(self.env["XDG_CONFIG_HOME"], "Ostrane")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "Vexalo.conf"), "w") as f:
            f.write("[General]\nWindowScale=1\n")
            for key, value in settings.items():
                f.write("%s=%d\n" % (key, value))
        self.stderr = open(os.path.join(self.outdir, "vexalo.log"), "w+")
        program = self.start([self.vexalo, self.image], stdout=subprocess.DEVNULL,
                             stderr=self.stderr)
        wait_for("the program's sound stream",
                 lambda: "FluidSynth" in (self.pactl("list", "sink-inputs") or ""), 15)
        return program

    def stop_program(self, program):
        program.terminate()
        program.wait(10)

    def record(self, seconds):
        """`seconds` of the sink's monitor, from 0.3 s after the first sound on."""
        parec = self.start(["parec", "-d", SINK + ".monitor", "--raw", "--format=s16le",
                            "--rate=%d" % RATE, "--channels=1", "--latency-msec=20"],
                           stdout=subprocess.PIPE)

        def read(count):
            data = b""
            while len(data) < count * 2:
                chunk = parec.stdout.read(count * 2 - len(data))
                if not chunk:
                    fail("parec stopped")
                data += chunk
            return np.frombuffer(data, dtype="<i2").astype(np.float64) / 32768.0

        end = time.monotonic() + 10
        while rms(read(RATE // 100)) < 0.001:
            if time.monotonic() > end:
                fail("no sound reached the server")
        read(int(0.3 * RATE))
        self.measured_latency = self.latency()
        samples = read(int(seconds * RATE))
        parec.kill()
        parec.wait()
        return samples

    def latency(self):
        text = self.pactl("list", "sink-inputs") or ""
        found = ["%s %.1f ms" % (kind, int(us) / 1000)
                 for kind, us in re.findall(r"(Buffer|Sink) Latency: (\d+) usec", text)]
        # PipeWire reports its quantum as a property instead.
        found += ["node.latency " + v for v in re.findall(r'node.latency = "([^"]+)"', text)]
        return ", ".join(found)

    def screenshot(self, name):
        path = os.path.join(self.outdir, name + ".png")
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True, timeout=20)
        ppm = subprocess.run(["convert", path, "ppm:-"], capture_output=True, check=True).stdout
        # P6, width, height, maximum, then the pixels.
        fields = ppm.split(maxsplit=4)
        w, h = int(fields[1]), int(fields[2])
        return np.frombuffer(fields[4][: w * h * 3], dtype=np.uint8).reshape(h, w, 3)


# ---- analysis --------------------------------------------------------------------------------

def spectrum(samples):
    """Magnitude spectrum, zero-padded to a 0.05 Hz grid."""
    size = int(RATE / 0.05)
    magnitude = np.abs(np.fft.rfft(samples * np.hanning(len(samples)), size))
    return np.fft.rfftfreq(size, 1.0 / RATE), magnitude


def pitch(freqs, magnitude, nominal):
    """The fundamental near `nominal` whose first six harmonics hold the most energy (the
    patch's vibrato and chorus spread each harmonic; the comb finds their common centre)."""
    candidates = nominal * 2 ** (np.arange(-50, 50.01, 0.25) / 1200)
    step = freqs[1]
    power = np.log(magnitude + 1e-12)
    scores = [sum(power[int(round(k * f / step))] for k in range(1, 7)) for f in candidates]
    return candidates[int(np.argmax(scores))]


def level_at(freqs, magnitude, frequency):
    """The amplitude within 1 % of `frequency` (the vibrato spreads a note over that band)."""
    band = (freqs > frequency * 0.99) & (freqs < frequency * 1.01)
    return float(np.sqrt(np.sum(magnitude[band] ** 2)))


def db(ratio):
    return 20 * np.log10(ratio)


def rms(samples):
    return float(np.sqrt(np.mean(samples ** 2)))


def main():
    if len(sys.argv) not in (4, 5):
        fail("usage: audio_server_check.py VEXALO IMAGE OUTDIR [pulseaudio|pipewire]")
    vexalo, image, outdir = sys.argv[1:4]
    server = sys.argv[4] if len(sys.argv) == 5 else "pulseaudio"
    needed = ["parec", "pactl", "Xvfb", "import", "convert"]
    needed += ["pulseaudio"] if server == "pulseaudio" else ["pipewire", "pipewire-pulse",
                                                               "wireplumber", "dbus-daemon"]
    missing = [tool for tool in needed if shutil.which(tool) is None]
    if missing:
        skip("not installed: " + ", ".join(missing))
    os.makedirs(outdir, exist_ok=True)
    session = Session(vexalo, image, outdir, server)
    try:
        check(session)
    finally:
        session.close()


def check(session):
    started = time.monotonic()
    session.start_sound_server()
    session.start_display()

    # 10 s with the default settings.
    program = session.run_program({})
    full = session.record(10.0)
    latency = session.measured_latency
    session.stop_program(program)
    with wave.open(os.path.join(session.outdir, "ten-seconds.wav"), "wb") as f:
        f.setnchannels(1)
        f.setsampwidth(2)
        f.setframerate(RATE)
        f.writeframes((full * 32768).astype("<i2").tobytes())
    print("server latency of the program's stream: " + latency)
    blocks = full[: len(full) // 441 * 441].reshape(-1, 441)
    block_rms = np.sqrt(np.mean(blocks ** 2, axis=1))
    median = float(np.median(block_rms))
    quietest = int(np.argmin(block_rms))
    print("10 s: level %.1f dBFS; quietest 10 ms block %.1f dB under the median (at %.2f s)" %
          (db(rms(full)), db(median / max(block_rms[quietest], 1e-9)), quietest / 100))
    if median < 0.002:
        fail("nothing heard: median block level %.4f" % median)
    # A gap is a run of 10 ms blocks more than 12 dB under the median. A machine busy with other
    # work may starve the synthesizer for a moment, so dropouts shorter than 50 ms are reported
    # and pass; a longer one, or more than 50 ms of dropouts in all, fails.
    quiet = block_rms < median / 4
    runs, start = [], None
    for i, q in enumerate(list(quiet) + [False]):
        if q and start is None:
            start = i
        elif not q and start is not None:
            runs.append((start, i - start))
            start = None
    for at, length in runs:
        print("dropout at %.2f s: %d ms" % (at / 100, length * 10))
    if runs and (max(length for _, length in runs) >= 5 or sum(length for _, length in runs) > 5):
        fail("gaps in the sound: %s" % ", ".join("%d ms at %.2f s" % (length * 10, at / 100)
                                                  for at, length in runs))
    freqs, magnitude = spectrum(full)
    for name, nominal in NOTES.items():
        heard = pitch(freqs, magnitude, nominal)
        cents = 1200 * np.log2(heard / nominal)
        print("%s: %.2f Hz heard, %.2f Hz wanted, %+.1f cents" % (name, heard, nominal, cents))
        if abs(cents) > 10:
            fail("%s is %+.1f cents off" % (name, cents))
    # The channel runs are compared with as long a stretch of this one.
    freqs, magnitude = spectrum(full[: 2 * RATE])
    full_levels = {name: level_at(freqs, magnitude, f) for name, f in NOTES.items()}

    # The volume setting at a quarter: 12 dB less.
    program = session.run_program({"SoundVolume": 16384})
    quiet = session.record(2.0)
    session.stop_program(program)
    change = db(rms(quiet) / rms(full))
    print("SoundVolume 16384: %+.1f dB (wanted %+.1f dB)" % (change, db(16384 / 65535)))
    if abs(change - db(16384 / 65535)) > 1.5:
        fail("the volume setting changed the level by %+.1f dB" % change)

    # Each square switched off in turn: its note goes, the other stays.
    for channel, gone, kept in ((2, "C#4", "A4"), (1, "A4", "C#4")):
        program = session.run_program({"SoundChannel%d" % channel: 0})
        samples = session.record(2.0)
        session.stop_program(program)
        f, m = spectrum(samples)
        lost = db(level_at(f, m, NOTES[gone]) / full_levels[gone])
        stayed = db(level_at(f, m, NOTES[kept]) / full_levels[kept])
        print("SoundChannel%d=0: %s %+.1f dB, %s %+.1f dB" % (channel, gone, lost, kept, stayed))
        if lost > -20 or abs(stayed) > 3:
            fail("switching square %d off did not remove just its note" % channel)

    # The server goes away while the game runs. The status bar's icons show only while the
    # machine runs: the display icon's green, and the "NoAudio" picture's red stroke.
    green = lambda shot: int(np.sum((shot[:, :, 1] > 120) & (shot[:, :, 0] < 100) &
                                    (shot[:, :, 2] < 100)))
    red = lambda shot: int(np.sum((shot[:, :, 0] > 180) & (shot[:, :, 1] < 90) &
                                  (shot[:, :, 2] < 90)))
    program = session.run_program({})
    session.record(1.0)  # the game plays, so its window is up
    before = session.screenshot("audio-before")
    session.sound.kill()
    session.sound.wait()
    time.sleep(2.5)
    after = session.screenshot("audio-lost")
    alive = program.poll() is None
    session.stop_program(program)
    session.stderr.seek(0)
    lines = session.stderr.read().splitlines().count(STOPPED_LINE)
    print("server killed: program running %s, log line %d time(s); "
          "icon pixels green/red %d/%d before, %d/%d after" %
          (alive, lines, green(before), red(before), green(after), red(after)))
    if not alive:
        fail("the program stopped when the server went away")
    if lines != 1:
        fail("the log line \"%s\" came %d times" % (STOPPED_LINE, lines))
    if green(before) < 8 or red(before) > 0:
        fail("the status bar did not show the \"Audio\" picture while the sound played")
    if green(after) < 8 or red(after) < 8:
        fail("the status bar does not show the \"NoAudio\" picture of a running machine")
    print("done in %.1f s" % (time.monotonic() - started))


if __name__ == "__main__":
    main()
