#!/usr/bin/env python3
"""Renders the background music of the page styles from the note data below.

Each piece is ours: chords and melodies written here, played by FluidSynth
with Debian's General MIDI soundfont and encoded to stereo MP3 by LAME.
Run from anywhere; writes pages/assets/<style>/<file>.mp3. Same input, same
bytes: no randomness, chorus off (its moving delay would not meet itself at
the loop point), and the samples are converted to 16 bits here, not by the
synthesizer's dither.

    apt-get install fluidsynth fluid-soundfont-gm lame
    tools/make-music.py            # every piece
    tools/make-music.py fg3        # the pieces of one style

Form of every piece: two bars of accompaniment, then A (first voice), A
(second voice), B (first voice), A (both voices, the second an octave
under), and round again. The notes are played three times over and the
middle pass is kept, so that the end of the file flows into its start with
the reverb of the last notes still sounding: the loop has no seam.
"""
import array
import os
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pages", "assets")
SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
RATE = 44100
PPQ = 480

# General MIDI programs (0-based).
PIANO, EPIANO, CELESTA, GLOCKENSPIEL, MUSIC_BOX, VIBRAPHONE = 0, 4, 8, 9, 10, 11
NYLON, VIOLIN, CELLO, HARP, STRINGS, SLOW_STRINGS = 24, 40, 42, 46, 48, 49
FLUTE, WARM_PAD = 73, 89

PIECES = {
    # Style 1: a dark page of light effects. A minor, piano over strings.
    "fg1/bgm.mp3": dict(
        bpm=76, beats=4, lead=PIANO, second=VIOLIN, accompany=(PIANO, "arp"), pad=STRINGS,
        a_chords="Am F C G Am F Dm E",
        a="E5:1.5 D5:.5 C5 E5 | F5:2 E5 C5 | G4 C5 E5 G5 | F5:1.5 E5:.5 D5:2 | "
          "C5 E5 A5:1.5 G5:.5 | F5 E5 D5 C5 | D5 F5 A5 G5:.5 F5:.5 | E5:3 G#4",
        b_chords="F G Em Am Dm G C E7",
        b="A4 C5 F5:2 | G5:1.5 F5:.5 E5 D5 | E5 G5 B5:2 | A5:1.5 G5:.5 E5:2 | "
          "F5 E5 D5 A4 | B4 D5 G5 F5 | E5:2 C5 E5 | D5:2 B4 G#4"),
    # Style 2: a heart of flowers. A music-box waltz in C.
    "fg2/bgm.mp3": dict(
        bpm=96, beats=3, lead=MUSIC_BOX, second=FLUTE, accompany=(HARP, "waltz"), pad=SLOW_STRINGS,
        a_chords="C Am F G C Em F G",
        a="E5 G5 C6 | B5:1.5 A5:.5 E5 | F5 A5 C6 | B5:2 G5 | E5 G5 E6 | D6:1.5 C6:.5 B5 | A5 C6 A5 | G5:2 D5",
        b_chords="F G Em Am Dm G C G7",
        b="C6 A5 F5 | D6 B5 G5 | E6:1.5 D6:.5 B5 | C6:2 A5 | F5 A5 D6 | B5:1.5 A5:.5 G5 | E5 G5 C6 | B5 F5 D5"),
    # Style 3: a tree that grows into a heart. G major, flute and piano.
    "fg3/bgm.mp3": dict(
        bpm=80, beats=4, lead=FLUTE, second=PIANO, accompany=(PIANO, "arp"), pad=SLOW_STRINGS,
        a_chords="G D Em C G D C D",
        a="B4 D5 G5:1.5 F#5:.5 | E5 D5 A4:2 | G4 B4 E5:1.5 D5:.5 | C5 E5 G5:2 | "
          "B5:1.5 A5:.5 G5 D5 | F#5 A5 D5:2 | E5 G5 C6 B5 | A5:3 F#5",
        b_chords="Em C G D Em C Am D",
        b="G5:1.5 F#5:.5 E5:2 | E5 G5 C6:2 | B5 A5 G5 D5 | F#5:2 A5:2 | "
          "B5:1.5 A5:.5 G5 E5 | G5 E5 C5:2 | A4 C5 E5 G5 | F#5:2 D5:2"),
    # Style 4: twenty cards of words. F major, electric piano and vibraphone.
    "fg4/bgm.mp3": dict(
        bpm=72, beats=4, lead=EPIANO, second=VIBRAPHONE, accompany=(EPIANO, "broken"), pad=STRINGS,
        a_chords="F C Dm Bb F C Bb C",
        a="A4 C5 F5 E5 | E5:1.5 D5:.5 C5:2 | D5 F5 A5 G5 | F5:2 D5:2 | "
          "C5 F5 A5:1.5 G5:.5 | G5 E5 C5:2 | D5 F5 Bb5 A5 | G5:3 E5",
        b_chords="Dm Bb F C Dm Bb Gm C7",
        b="A5:1.5 G5:.5 F5 D5 | D5 F5 Bb5:2 | A5 G5 F5 C5 | E5:2 G5:2 | "
          "F5:1.5 E5:.5 D5 A4 | Bb4 D5 F5:2 | G5 Bb5 A5 G5 | E5:2 Bb4 G4"),
    # Style 5, first piece: green light on black. D minor, celesta over a warm pad.
    "fg5/bgm1.mp3": dict(
        bpm=74, beats=4, lead=CELESTA, second=HARP, accompany=(PIANO, "arp"), pad=WARM_PAD,
        a_chords="Dm Bb F C Dm Gm A A7",
        a="A4 D5 F5 E5 | D5:2 F5 Bb5 | A5:1.5 G5:.5 F5 C5 | E5:2 G5:2 | "
          "F5 E5 D5 A5 | Bb5:1.5 A5:.5 G5 D5 | C#5 E5 A5:2 | G5:2 E5 C#5",
        b_chords="Bb C Am Dm Gm C F A",
        b="F5 D5 Bb4:2 | C5 E5 G5:2 | A5:1.5 G5:.5 E5:2 | F5 D5 A4:2 | "
          "G5 Bb5 D6:1.5 C6:.5 | Bb5 G5 E5:2 | F5 A5 C6 A5 | E5:3 C#5"),
    # Style 5, second piece, played after the first: D major, a violin waltz.
    "fg5/bgm2.mp3": dict(
        bpm=92, beats=3, lead=VIOLIN, second=FLUTE, accompany=(NYLON, "waltz"), pad=SLOW_STRINGS,
        a_chords="D A Bm G D Em A D",
        a="F#5 A5 D6 | C#6:1.5 B5:.5 A5 | B5 F#5 D5 | G5:2 B5 | A5 F#5 A5 | G5 E5 B5 | A5:1.5 G5:.5 E5 | D5:3",
        b_chords="G A F#m Bm G Em A A7",
        b="B5 D6 B5 | C#6 E6 C#6 | A5:1.5 C#6:.5 A5 | F#5:2 D5 | G5 B5 D6 | E6:1.5 D6:.5 B5 | C#6:2 A5 | G5 E5 C#5"),
    # Style 6: a room of pictures. A waltz in G, piano and strings.
    "fg6/bgm.mp3": dict(
        bpm=100, beats=3, lead=PIANO, second=STRINGS, accompany=(PIANO, "waltz"), pad=SLOW_STRINGS,
        a_chords="G Em C D G Bm C D7",
        a="D5 G5 B5 | B5:1.5 A5:.5 G5 | E5 G5 C6 | A5:2 F#5 | G5 B5 D6 | D6:1.5 B5:.5 F#5 | E5 G5 E6 | D6:2 C6",
        b_chords="C D Bm Em Am D G D7",
        b="E6 C6 G5 | F#5 A5 D6 | D6:1.5 B5:.5 F#5 | G5:2 E5 | A5 C6 E6 | D6:1.5 C6:.5 A5 | B5:2 G5 | A5 F#5 D5"),
    # Style 7: a picture story. C major, music box and glockenspiel.
    "fg7/lovebgm.mp3": dict(
        bpm=84, beats=4, lead=MUSIC_BOX, second=GLOCKENSPIEL, accompany=(NYLON, "broken"), pad=SLOW_STRINGS,
        a_chords="C G Am Em F C F G",
        a="E5 G5 C6 G5 | D6:1.5 C6:.5 B5:2 | C6 A5 E5 A5 | B5:2 G5:2 | "
          "A5 C6 F6 E6 | E6:1.5 D6:.5 C6:2 | A5 C6 D6 C6 | B5:3 G5",
        b_chords="Am F C G Am F Dm G",
        b="E6 C6 A5:2 | F5 A5 C6:2 | G5:1.5 E5:.5 C5:2 | D5 G5 B5:2 | "
          "C6 B5 A5 E5 | F5 A5 C6 F6 | E6 D6 A5 F5 | G5:3 B5"),
    # Style 8: six slides. A ballad in E flat, piano and cello.
    "fg8/bgm.mp3": dict(
        bpm=70, beats=4, lead=PIANO, second=CELLO, second_octave=-12, accompany=(PIANO, "arp"), pad=STRINGS,
        a_chords="Eb Bb Cm Ab Eb Bb Ab Bb",
        a="G4 Bb4 Eb5:1.5 D5:.5 | D5 F5 Bb4:2 | Eb5 G5 C5:1.5 D5:.5 | Eb5:2 C5:2 | "
          "Bb4 Eb5 G5:1.5 F5:.5 | F5 D5 Bb4:2 | C5 Eb5 Ab5 G5 | F5:3 D5",
        b_chords="Cm Ab Eb Bb Cm Ab Fm Bb7",
        b="G5:1.5 F5:.5 Eb5:2 | C5 Eb5 Ab5:2 | G5 F5 Eb5 Bb4 | D5:2 F5:2 | "
          "Eb5 G5 C6:1.5 Bb5:.5 | Ab5 Eb5 C5:2 | F5 Ab5 C6 Ab5 | G5:2 F5 D5"),
}

NOTE = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}
QUALITY = {"": (0, 4, 7), "m": (0, 3, 7), "7": (0, 4, 7, 10), "m7": (0, 3, 7, 10), "maj7": (0, 4, 7, 11)}


def pitch(name):
    """MIDI number of a note such as C4 (60), F#5 or Bb3."""
    step, rest = NOTE[name[0]], name[1:]
    while rest and rest[0] in "#b":
        step += 1 if rest[0] == "#" else -1
        rest = rest[1:]
    return 12 * (int(rest) + 1) + step


def chord(symbol):
    """Root pitch class and intervals of a chord symbol such as F#m or Bb7."""
    root = symbol[0]
    rest = symbol[1:]
    step = NOTE[root]
    if rest[:1] in ("#", "b"):
        step += 1 if rest[0] == "#" else -1
        rest = rest[1:]
    return step % 12, QUALITY[rest]


def bars(text):
    """Bars of (pitch or None, beats) from "E5:1.5 D5:.5 C5 | ..."."""
    out = []
    for bar in text.split("|"):
        notes = []
        for token in bar.split():
            name, _, length = token.partition(":")
            notes.append((None if name == "r" else pitch(name), float(length) if length else 1.0))
        out.append(notes)
    return out


class Score:
    def __init__(self, bpm, beats):
        self.bpm, self.beats, self.events = bpm, beats, []

    def note(self, channel, key, start, length, velocity):
        on, off = round(start * PPQ), round((start + length) * PPQ) - 1
        self.events.append((on, 1, bytes([0x90 | channel, key, velocity])))
        self.events.append((max(on + 1, off), 0, bytes([0x80 | channel, key, 0])))

    def midi(self, setup):
        """A type-0 standard MIDI file: `setup` messages at time 0, then the notes."""
        track = bytearray()
        tempo = round(60_000_000 / self.bpm)
        track += b"\x00\xff\x51\x03" + tempo.to_bytes(3, "big")
        for message in setup:
            track += b"\x00" + message
        now = 0
        for tick, _, message in sorted(self.events, key=lambda e: (e[0], e[1], e[2])):
            track += vlq(tick - now) + message
            now = tick
        track += b"\x00\xff\x2f\x00"
        return b"MThd" + struct.pack(">IHHH", 6, 0, 1, PPQ) + b"MTrk" + struct.pack(">I", len(track)) + track


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


# Channels: melody, second voice, accompaniment, held chords.
LEAD, SECOND, ACCOMPANY, PAD = 0, 1, 2, 3


def accompany(score, start, symbol, style, beats):
    root, intervals = chord(symbol)
    bass = 36 + root + (12 if root < 4 else 0)       # C2 .. D#3 .. B2
    tones = [48 + root + i for i in intervals]        # the chord around C3..B4
    if style == "arp":
        # Root, fifth, octave, tenth and back, in eighths.
        line = [bass, bass + 7, bass + 12, tones[1] + 12, bass + 12 + 7, tones[1] + 12, bass + 12, bass + 7]
        for i in range(beats * 2):
            score.note(ACCOMPANY, line[i % len(line)], start + i * 0.5, 0.9 if i else 1.9, 58 if i % 2 else 66)
    elif style == "waltz":
        score.note(ACCOMPANY, bass, start, beats - 0.1, 70)
        for beat in range(1, beats):
            for key in tones[1:]:
                score.note(ACCOMPANY, key + 12, start + beat, 0.8, 48)
    else:  # broken chord in quarters
        line = [bass, tones[2] + 12 if len(tones) > 2 else bass + 19, tones[1] + 12, tones[2] + 12]
        for beat in range(beats):
            score.note(ACCOMPANY, line[beat % 4], start + beat, 1.4, 62 if beat == 0 else 52)
    for key in tones:
        score.note(PAD, key + 12, start, beats, 40)
    score.note(PAD, bass, start, beats, 34)


def melody(score, channel, start, notes, beats, velocity, shift=0):
    for b, bar in enumerate(notes):
        at = start + b * beats
        for key, length in bar:
            if key is not None:
                accent = 8 if (at - start) % beats == 0 else 0
                score.note(channel, key + shift, at, length * 0.95, min(120, velocity + accent))
            at += length


def compose(piece):
    beats = piece["beats"]
    score = Score(piece["bpm"], beats)
    a, b = bars(piece["a"]), bars(piece["b"])
    a_chords, b_chords = piece["a_chords"].split(), piece["b_chords"].split()
    assert len(a) == len(a_chords) == len(b) == len(b_chords) == 8
    for bar in a + b:
        assert abs(sum(length for _, length in bar) - beats) < 1e-9, bar
    second_shift = piece.get("second_octave", 0)
    # One pass: intro (2 bars), A, A', B, A''.
    sections = [(a_chords[:2], None), (a_chords, "a1"), (a_chords, "a2"), (b_chords, "b"), (a_chords, "a3")]
    length = sum(len(c) for c, _ in sections) * beats
    for cycle in range(3):
        at = cycle * length
        for chords, part in sections:
            for i, symbol in enumerate(chords):
                accompany(score, at + i * beats, symbol, piece["accompany"][1], beats)
            if part == "a1":
                melody(score, LEAD, at, a, beats, 88)
            elif part == "a2":
                melody(score, SECOND, at, a, beats, 84, second_shift)
            elif part == "b":
                melody(score, LEAD, at, b, beats, 92)
            elif part == "a3":
                melody(score, LEAD, at, a, beats, 90)
                melody(score, SECOND, at, a, beats, 60, second_shift - 12 if second_shift else -12)
            at += len(chords) * beats
    setup = []
    # Programs, volumes, and places across the stereo field.
    for channel, program, volume, pan in ((LEAD, piece["lead"], 110, 54), (SECOND, piece["second"], 100, 74),
                                          (ACCOMPANY, piece["accompany"][0], 84, 70),
                                          (PAD, piece["pad"], 62, 64)):
        setup += [bytes([0xC0 | channel, program]), bytes([0xB0 | channel, 7, volume]),
                  bytes([0xB0 | channel, 10, pan]), bytes([0xB0 | channel, 91, 70]),
                  bytes([0xB0 | channel, 93, 0])]
    return score.midi(setup), length * 60 / piece["bpm"]


def render(name, piece, tmp):
    data, seconds = compose(piece)
    mid = os.path.join(tmp, "piece.mid")
    raw = os.path.join(tmp, "piece.raw")
    with open(mid, "wb") as f:
        f.write(data)
    subprocess.run(["fluidsynth", "-n", "-i", "-q", "-r", str(RATE), "-g", "0.5",
                    "-o", "synth.chorus.active=0", "-o", "synth.reverb.active=1",
                    "-o", "audio.file.type=raw", "-o", "audio.file.format=float", "-o", "audio.file.endian=little",
                    "-F", raw, SOUNDFONT, mid], check=True, stdout=subprocess.DEVNULL)
    samples = array.array("f")
    with open(raw, "rb") as f:
        samples.frombytes(f.read())
    if sys.byteorder != "little":
        samples.byteswap()
    # The middle pass: it starts with the reverb of the pass before.
    frames = round(seconds * RATE)
    middle = samples[2 * frames:4 * frames]
    peak = max(max(middle), -min(middle)) or 1.0
    scale = 0.89 * 32767 / peak          # about -1 dBFS
    pcm = array.array("h", (int(round(s * scale)) for s in middle))
    if sys.byteorder != "little":
        pcm.byteswap()
    wav = os.path.join(tmp, "piece.wav")
    with open(wav, "wb") as f:
        body = pcm.tobytes()
        f.write(b"RIFF" + struct.pack("<I", 36 + len(body)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 2, RATE, RATE * 4, 4, 16))
        f.write(b"data" + struct.pack("<I", len(body)) + body)
    out = os.path.join(ROOT, name)
    subprocess.run(["lame", "--silent", "--noreplaygain", "-m", "j", "-b", "96", "-q", "2", wav, out], check=True)
    print(f"{name}: {seconds:.1f} s, {os.path.getsize(out)} bytes")


def main():
    only = sys.argv[1:]
    with tempfile.TemporaryDirectory() as tmp:
        for name, piece in PIECES.items():
            if not only or name.split("/")[0] in only:
                render(name, piece, tmp)


if __name__ == "__main__":
    main()
