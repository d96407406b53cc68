#!/usr/bin/python3
"""Checks the runner's --smf files with readers and players that are not ours.

  smf_check.py match RUNNER IMAGE FRAMES
      Runs IMAGE for FRAMES frames with --smf and --midi-log. Debian's mido reads the file back:
      format 1, a tempo track, one track per channel with its program and volume, and note
      events that match the MIDI log one for one, each at its frame's time (within 1 ms of the
      emulated time).
  smf_check.py render RUNNER IMAGE FRAMES SOUNDFONT
      FluidSynth's own player renders the file; its loudness follows the runner's --wav
      rendering of the same frames, 20 ms window by 20 ms window.
"""
import math
import os
import subprocess
import sys
import tempfile
import wave

FRAME_RATE = 60.0988
TICKS_PER_FRAME = 16
PROGRAMS = [81, 81, 81, 119]


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(runner, image, frames, *options):
    subprocess.run([runner, image, "--frames", str(frames), *options], check=True,
                   stdout=subprocess.DEVNULL)


def read_log(path):
    """The MIDI log's note events per channel: (frame, 'on'/'off', key, velocity)."""
    notes = {c: [] for c in range(4)}
    programs = {}
    with open(path) as f:
        for line in f:
            frame, status, data1, data2 = line.split()
            frame, status, data1, data2 = int(frame), int(status, 16), int(data1, 16), int(data2, 16)
            kind, channel = status & 0xF0, status & 0x0F
            if kind == 0xC0:
                programs.setdefault(channel, data1)
            elif kind in (0x80, 0x90):
                off = kind == 0x80 or data2 == 0
                notes[channel].append((frame, "off" if off else "on", data1, data2))
    return notes, programs


def heard_order(events):
    """The log's order with one change the file makes: a note-on followed at once, in the same
    frame, by the note-off of its own key is written note-off first."""
    out = list(events)
    i = 0
    while i + 1 < len(out):
        a, b = out[i], out[i + 1]
        if a[1] == "on" and b[1] == "off" and a[0] == b[0] and a[2] == b[2]:
            out[i], out[i + 1] = b, a
            i += 2
        else:
            i += 1
    return out


def match(runner, image, frames):
    import mido

    with tempfile.TemporaryDirectory() as tmp:
        smf, log = os.path.join(tmp, "music.mid"), os.path.join(tmp, "music.log")
        run(runner, image, frames, "--smf", smf, "--midi-log", log)
        midi = mido.MidiFile(smf)
        log_notes, log_programs = read_log(log)

    if midi.type != 1 or len(midi.tracks) != 5:
        fail(f"format {midi.type} with {len(midi.tracks)} tracks, expected format 1 with 5")
    if midi.ticks_per_beat != 480:
        fail(f"division {midi.ticks_per_beat}")
    tempos = [m for m in midi.tracks[0] if m.type == "set_tempo"]
    if len(tempos) != 1 or any(m.type in ("note_on", "note_off") for m in midi.tracks[0]):
        fail("the first track is not a tempo track with one tempo")

    matched = 0
    for channel in range(4):
        track = midi.tracks[1 + channel]
        tick = 0
        notes = []
        for m in track:
            tick += m.time
            if m.is_meta:
                continue
            if m.channel != channel:
                fail(f"track {1 + channel} holds a message on channel {m.channel}")
            if m.type in ("note_on", "note_off"):
                if tick % TICKS_PER_FRAME:
                    fail(f"a note at tick {tick}, between two frames")
                off = m.type == "note_off" or m.velocity == 0
                notes.append((tick // TICKS_PER_FRAME, "off" if off else "on", m.note, m.velocity))
        first = [m for m in track if m.type in ("program_change", "control_change")][:2]
        program = log_programs.get(channel, PROGRAMS[channel])
        if len(first) != 2 or first[0].type != "program_change" or first[0].program != program:
            fail(f"channel {channel} does not start with program {program}")
        if first[1].type != "control_change" or first[1].control != 7:
            fail(f"channel {channel} does not set its volume at the start")
        expected = heard_order(log_notes[channel])
        if notes != expected:
            for i, (got, want) in enumerate(zip(notes, expected)):
                if got != want:
                    fail(f"channel {channel}, note event {i}: file {got}, log {want}")
            fail(f"channel {channel}: {len(notes)} note events in the file, {len(expected)} logged")
        matched += len(notes)

    # Time as any player computes it from the tempo and the division, against the emulated time
    # of each note's frame.
    seconds = 0.0
    worst = 0.0
    last = 0.0
    queues = {c: [e[0] for e in heard_order(log_notes[c])] for c in range(4)}
    for m in midi:
        seconds += m.time
        if m.type in ("note_on", "note_off"):
            frame = queues[m.channel].pop(0)
            worst = max(worst, abs(seconds - frame / FRAME_RATE))
            last = seconds
    if worst >= 0.001:
        fail(f"a note lies {worst * 1000:.3f} ms from its frame's emulated time")
    print(f"{matched} note events match the MIDI log one for one; last at {last:.1f} s, "
          f"at most {worst * 1000:.4f} ms from the emulated time")


def envelope(path, window):
    with wave.open(path) as w:
        if w.getnchannels() != 2 or w.getsampwidth() != 2:
            fail(f"{path}: not 16-bit stereo")
        raw = w.readframes(w.getnframes())
    samples = memoryview(raw).cast("h")
    out = []
    for start in range(0, len(samples) // 2 - window, window):
        block = samples[2 * start:2 * (start + window)]
        out.append(math.sqrt(sum(v * v for v in block) / len(block)))
    return out


def correlation(a, b, lag):
    if lag > 0:
        a = a[lag:]
    elif lag < 0:
        b = b[-lag:]
    n = min(len(a), len(b))
    a, b = a[:n], b[:n]
    ma, mb = sum(a) / n, sum(b) / n
    cov = sum((x - ma) * (y - mb) for x, y in zip(a, b))
    va = sum((x - ma) ** 2 for x in a)
    vb = sum((y - mb) ** 2 for y in b)
    return cov / math.sqrt(va * vb) if va and vb else 0.0


def render(runner, image, frames, soundfont):
    with tempfile.TemporaryDirectory() as tmp:
        smf = os.path.join(tmp, "music.mid")
        ours, theirs = os.path.join(tmp, "runner.wav"), os.path.join(tmp, "fluidsynth.wav")
        run(runner, image, frames, "--smf", smf, "--wav", ours)
        subprocess.run(["fluidsynth", "-n", "-i", "-q", "-r", "44100", "-F", theirs, soundfont,
                        smf], check=True, stdout=subprocess.DEVNULL)
        window = 882  # 20 ms
        a, b = envelope(ours, window), envelope(theirs, window)
    loud = sum(1 for v in b if v > 100)
    if loud < len(a) // 2:
        fail(f"FluidSynth's rendering is silent in {len(a) - loud} of {len(a)} windows")
    at = {lag: correlation(a, b, lag) for lag in (-2, 0, 2)}
    print("loudness correlation with the runner's rendering at -40, 0, +40 ms: " +
          ", ".join(f"{at[lag]:.3f}" for lag in (-2, 0, 2)))
    if at[0] < 0.9 or at[0] < max(at[-2], at[2]) + 0.3:
        fail("FluidSynth does not play the file's notes when the runner plays them")


def main():
    if len(sys.argv) >= 5 and sys.argv[1] == "match":
        match(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif len(sys.argv) >= 6 and sys.argv[1] == "render":
        render(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5])
    else:
        print(__doc__)
        sys.exit(64)


if __name__ == "__main__":
    main()
