#!/usr/bin/python3
"""Tries Clarity's carrier levelling on sub-bands finer than a layout's bands, outside the program:
levels a carrier file in sixth-octave sub-bands (8th-order Butterworth band-passes from LOW to
TOP Hz), each as the program levels a band (its magnitude over 4 ms divided by the sum of that
and 0.05 times its magnitude over 0.3 s, the result weighted by AMOUNT, 0.75 being Clarity 50's),
sums them with the carrier above TOP (an 8th-order Butterworth high-pass) and writes the result at
the input's peak. layouts.py then scores the program on WORK folders holding such carriers.
Usage: sub_band_levelling.py IN.wav OUT.wav [PER_OCTAVE [LOW [TOP [AMOUNT]]]]
(defaults 6, 70, 2000, 0.75). Needs python3-scipy."""
import sys

import numpy as np
from scipy import signal
from scipy.io import wavfile

FAST_SECONDS = 0.004
SLOW_SECONDS = 0.3
FLOOR_SHARE = 0.05


def main():
    source, target = sys.argv[1], sys.argv[2]
    per_octave, low, top, amount = (float(v) for v in (sys.argv[3:] + ["6", "70", "2000", "0.75"][
        len(sys.argv) - 3:]))
    rate, pcm = wavfile.read(source)
    x = pcm.astype(float) / 32768.0
    edges = low * 2 ** (np.arange(0, 400) / per_octave)
    edges = edges[edges <= min(top, 0.45 * rate) * 1.0001]
    fast = 1 - np.exp(-1 / (FAST_SECONDS * rate))
    slow = 1 - np.exp(-1 / (SLOW_SECONDS * rate))
    out = signal.sosfilt(signal.butter(8, edges[-1], btype="high", fs=rate, output="sos"), x)
    for f1, f2 in zip(edges[:-1], edges[1:]):
        band = signal.sosfilt(signal.butter(4, [f1, f2], btype="band", fs=rate, output="sos"), x)
        magnitude = np.abs(band)
        f = signal.lfilter([fast], [1, -(1 - fast)], magnitude)
        s = signal.lfilter([slow], [1, -(1 - slow)], magnitude)
        out += band * ((1 - amount) + amount * s / (f + FLOOR_SHARE * s + 1e-30))
    out *= np.max(np.abs(x)) / np.max(np.abs(out))
    wavfile.write(target, rate, np.round(out * 32767).astype(np.int16))


main()
