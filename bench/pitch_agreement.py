#!/usr/bin/python3
"""How closely one wave file's pitch follows another's, moved by an interval, measured by aubio's
YIN (python3-aubio; not this program's tracker). A frame counts where both files have a pitch
(aubio's confidence at least CONFIDENCE, and not silent); it agrees within 50 cents.
With --delayed, FOLLOWER is also compared after a constant delay of up to 70 ms, and the delay
that agrees best is given: a vocoder's band filters delay what passes through them.
With --yinfft, the pitch is aubio's yinfft (yin's confidence still picks the voiced frames), and
delays up to 80 ms are tried, and a second share follows: that of the frames where yin and yinfft
agree on REFERENCE's pitch within 50 cents, at the same delay. Where they disagree, one of them is
wrong about the voice itself (yinfft takes a formant's period or the window's edge for the voice's
on some voices), and no follower can agree with both.
With --window SECONDS both trackers look at that much of each file at a time (default 0.046 s,
2048 samples at 44.1 kHz). yinfft's differences come from a circular correlation of its window, so
a period near half the window is compared with the wrong samples: a voice moved down an octave to
45-55 Hz is then read at three halves or three times its pitch, where a window twice as long reads
it right.
Usage: pitch_agreement.py [--yinfft] [--delayed] [--window SECONDS] REFERENCE.wav FOLLOWER.wav
SEMITONES"""
import math
import sys

import aubio

CONFIDENCE = 0.8
METHOD = "yin"
LONGEST_DELAY = 0.07
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
    # yinfft's confidence is on another scale: yin's still says which frames are voiced.
    measure = aubio.pitch(METHOD, window, hop, rate) if METHOD != "yin" else None
    if measure is not None:
        measure.set_unit("Hz")
        measure.set_silence(-45)
    frames = []
    by_yin = []
    while True:
        samples, read = source()
        hertz = float(pitch(samples)[0])
        voiced = pitch.get_confidence() >= CONFIDENCE and hertz > 0
        by_yin.append(hertz if voiced else 0.0)
        if measure is not None:
            hertz = float(measure(samples)[0])
        frames.append(hertz if voiced and hertz > 0 else 0.0)
        if read < hop:
            return frames, hop / rate, by_yin


def cents(hertz, reference):
    return abs(1200 * math.log2(hertz / reference))


def agreement(wanted, got, semitones, lag, trusted=None):
    both = near = 0
    for index, want in enumerate(wanted):
        later = index + lag
        if trusted is not None and not trusted[index]:
            continue
        if later < len(got) and want > 0 and got[later] > 0:
            both += 1
            if cents(got[later], want * 2 ** (semitones / 12)) <= 50:
                near += 1
    return both, near


def main():
    global METHOD, LONGEST_DELAY, WINDOW_SECONDS
    arguments = sys.argv[1:]
    if arguments[0] == "--yinfft":
        METHOD, LONGEST_DELAY = "yinfft", 0.08
        arguments = arguments[1:]
    delayed = arguments[0] == "--delayed"
    if delayed:
        arguments = arguments[1:]
    if arguments[0] == "--window":
        WINDOW_SECONDS = float(arguments[1])
        arguments = arguments[2:]
    reference, follower, semitones = arguments[0], arguments[1], float(arguments[2])
    wanted, hop_seconds, wanted_by_yin = track(reference)
    got, _, _ = track(follower)
    lags = range(0, int(LONGEST_DELAY / hop_seconds) + 1) if delayed else [0]
    results = [(agreement(wanted, got, semitones, lag), lag) for lag in lags]
    (both, near), lag = max(results, key=lambda r: r[0][1] / max(r[0][0], 1))
    if not both:
        print("no frames")
        return
    later = f" {1000 * lag * hop_seconds:3.0f} ms later" if delayed else ""
    agreed = ""
    if METHOD != "yin":
        trusted = [w > 0 and y > 0 and cents(w, y) <= 50 for w, y in zip(wanted, wanted_by_yin)]
        sure_both, sure_near = agreement(wanted, got, semitones, lag, trusted)
        if sure_both:
            agreed = f"; {100 * sure_near / sure_both:5.1f} % of {sure_both:4d} where yin agrees"
    print(f"{100 * near / both:5.1f} % of {both:4d} frames{later}{agreed}")


main()
