"""Short-time objective intelligibility (Taal, Hendriks, Heusdens and Jensen, 2011).

Written from the paper: 10 kHz, 256-sample Hann frames with half overlap, a 512-point DFT,
15 one-third-octave bands from 150 Hz, frames more than 40 dB below the loudest clean frame
dropped from both signals, 30-frame (384 ms) segments, the degraded envelope scaled to the clean
one's energy and clipped at a signal-to-distortion ratio of -15 dB, and the mean correlation of
the envelopes over bands and segments.

A vocoder delays its band envelopes, so before scoring the degraded signal is shifted by the lag,
within +-50 ms, that best correlates the two signals' band envelopes summed over the bands.
"""

import numpy as np
from scipy.signal import resample_poly

RATE = 10000
FRAME = 256
FFT_SIZE = 512
BAND_COUNT = 15
LOWEST_CENTRE = 150.0
SEGMENT = 30
DYNAMIC_RANGE = 40.0
BETA = -15.0
MAX_DELAY_SECONDS = 0.05


def third_octave_matrix():
    """Rows add the power of the DFT bins inside each one-third-octave band."""
    bin_hertz = np.arange(FFT_SIZE // 2 + 1) * RATE / FFT_SIZE
    centres = LOWEST_CENTRE * 2.0 ** (np.arange(BAND_COUNT) / 3.0)
    lows = centres * 2.0 ** (-1.0 / 6.0)
    highs = centres * 2.0 ** (1.0 / 6.0)
    matrix = np.zeros((BAND_COUNT, bin_hertz.size))
    for band in range(BAND_COUNT):
        low_bin = np.argmin(np.abs(bin_hertz - lows[band]))
        high_bin = np.argmin(np.abs(bin_hertz - highs[band]))
        matrix[band, low_bin:high_bin] = 1.0
    return matrix


BANDS = third_octave_matrix()
WINDOW = np.hanning(FRAME + 2)[1:-1]


def to_rate(signal, rate):
    if rate == RATE:
        return np.asarray(signal, dtype=float)
    divisor = np.gcd(int(rate), RATE)
    return resample_poly(np.asarray(signal, dtype=float), RATE // divisor, int(rate) // divisor)


def frames(signal, hop):
    count = 1 + max(0, (signal.size - FRAME) // hop)
    index = np.arange(FRAME)[None, :] + hop * np.arange(count)[:, None]
    return signal[index] * WINDOW


def band_envelopes(framed):
    spectrum = np.abs(np.fft.rfft(framed, FFT_SIZE, axis=1)) ** 2
    return np.sqrt(spectrum @ BANDS.T).T  # bands x frames


def best_lag(clean, degraded):
    """The shift of degraded (in samples at 10 kHz, positive = degraded is late) within +-50 ms
    whose band envelopes, on a 1 ms grid, correlate best with the clean ones, summed over bands."""
    hop = RATE // 1000
    length = min(clean.size, degraded.size)
    x = np.log(band_envelopes(frames(clean[:length], hop)) + 1e-9)
    y = np.log(band_envelopes(frames(degraded[:length], hop)) + 1e-9)
    reach = int(MAX_DELAY_SECONDS * 1000)
    best, best_score = 0, -np.inf
    for lag in range(-reach, reach + 1):
        if lag >= 0:
            a, b = x[:, : x.shape[1] - lag], y[:, lag:]
        else:
            a, b = x[:, -lag:], y[:, : y.shape[1] + lag]
        a = a - a.mean(axis=1, keepdims=True)
        b = b - b.mean(axis=1, keepdims=True)
        norms = np.linalg.norm(a, axis=1) * np.linalg.norm(b, axis=1) + 1e-12
        score = np.sum(np.sum(a * b, axis=1) / norms)
        if score > best_score:
            best, best_score = lag, score
    return best * hop


def shifted(degraded, lag, length):
    if lag >= 0:
        out = degraded[lag:]
    else:
        out = np.concatenate([np.zeros(-lag), degraded])
    out = out[:length]
    return np.pad(out, (0, length - out.size))


def drop_silent_frames(clean, degraded):
    hop = FRAME // 2
    x = frames(clean, hop)
    y = frames(degraded, hop)
    energy = 20.0 * np.log10(np.linalg.norm(x, axis=1) + np.finfo(float).eps)
    keep = energy > energy.max() - DYNAMIC_RANGE
    x, y = x[keep], y[keep]

    def overlap_add(framed):
        out = np.zeros((framed.shape[0] - 1) * hop + FRAME)
        for i, frame in enumerate(framed):
            out[i * hop : i * hop + FRAME] += frame
        return out

    return overlap_add(x), overlap_add(y)


def stoi(clean, degraded, rate):
    """STOI of degraded against clean, both at rate, after the delay search."""
    x = to_rate(clean, rate)
    y = to_rate(degraded, rate)
    y = shifted(y, best_lag(x, y), x.size)
    x, y = drop_silent_frames(x, y)
    hop = FRAME // 2
    xe = band_envelopes(frames(x, hop))
    ye = band_envelopes(frames(y, hop))
    clip = 10.0 ** (-BETA / 20.0)
    scores = []
    for end in range(SEGMENT, xe.shape[1] + 1):
        xs = xe[:, end - SEGMENT : end]
        ys = ye[:, end - SEGMENT : end]
        scale = np.linalg.norm(xs, axis=1, keepdims=True) / (
            np.linalg.norm(ys, axis=1, keepdims=True) + np.finfo(float).eps
        )
        ys = np.minimum(ys * scale, xs * (1.0 + clip))
        xs = xs - xs.mean(axis=1, keepdims=True)
        ys = ys - ys.mean(axis=1, keepdims=True)
        norms = np.linalg.norm(xs, axis=1) * np.linalg.norm(ys, axis=1) + np.finfo(float).eps
        scores.append(np.sum(xs * ys, axis=1) / norms)
    return float(np.mean(scores)) if scores else float("nan")
