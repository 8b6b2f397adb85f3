#!/usr/bin/python3
"""How closely one wave file's pitch follows another's, moved by an interval, measured by aubio's
YIN (python3-aubio; not this program's tracker). A frame counts where both files have a pitch
(aubio's confidence at least CONFIDENCE, and not silent); it agrees within 50 cents.
Usage: pitch_agreement.py REFERENCE.wav FOLLOWER.wav SEMITONES"""
import math
import sys

import aubio

CONFIDENCE = 0.8
WINDOW_SECONDS = 0.046
HOP_SECONDS = 0.0116


def track(path):
    source = aubio.source(path, 0, 512)
    rate = source.samplerate
    window = 1 << round(math.log2(WINDOW_SECONDS * rate))
    hop = max(64, 1 << round(math.log2(HOP_SECONDS * rate)))
    source = aubio.source(path, rate, hop)
    pitch = aubio.pitch("yin", window, hop, rate)
    pitch.set_unit("Hz")
    pitch.set_silence(-45)
    pitch.set_tolerance(0.2)
    frames = []
    while True:
        samples, read = source()
        hertz = float(pitch(samples)[0])
        frames.append(hertz if pitch.get_confidence() >= CONFIDENCE and hertz > 0 else 0.0)
        if read < hop:
            return frames


def main():
    reference, follower, semitones = sys.argv[1], sys.argv[2], float(sys.argv[3])
    both = near = 0
    for want, got in zip(track(reference), track(follower)):
        if want > 0 and got > 0:
            both += 1
            if abs(1200 * math.log2(got / (want * 2 ** (semitones / 12)))) <= 50:
                near += 1
    print(f"{100 * near / both:5.1f} % of {both:4d} frames" if both else "no frames")


main()
