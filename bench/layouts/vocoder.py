"""A model of Lumivox's vocoder with any band layout, for measuring layouts before the engine has
them.

Every band is a band-pass of the classic bands' family: the order-5 elliptic low-pass prototype
(1.0000555 dB ripple, 80.00389 dB stop band) taken to a band-pass between the band's edges f1 and
f2, pre-warped and bilinear-transformed at the file's own rate, its poles and zeros paired into
five second-order sections the way the classic table pairs them. Each band's level is the
full-wave rectified modulator band through the 2-section elliptic envelope low-pass (100 Hz
pass-band edge, 1 dB ripple, 80 dB stop band; the program's own coefficients at 44.1 kHz,
designed afresh for 100 Hz at other rates), times 32.767; the output is the sum of the carrier
bands weighted by their levels, in the carrier's 16-bit units, clamped to the 16-bit range as the
program writes it. There is no Vagueness, Clearance or Clarity: the model is the program at its
defaults with Clarity 0.

Layouts: `layout(count, low, high, scale, width)` places `count` bands over [low, high] Hz evenly
on a frequency scale u(f) = ln(1 + f / knee) (knee 0 is the plain log scale, 228.7 Hz the ERB-rate
scale, 700 Hz the mel scale) and gives every band `width` times the spacing on that scale; the
lowest band starts at `low` and the highest ends at `high`. The classic bands' width is 0.9 of
their spacing on the log scale (f2 / f1 about 1.22 at a spacing of 1.25).
"""

import numpy as np
from scipy.signal import ellip, sosfilt

# The prototype's roots, exactly as the classic band table was designed from them.
PROTOTYPE_POLES = np.array([-0.30350847116833 + 0j,
                            -0.23322666471957 + 0.63312567826270j,
                            -0.23322666471957 - 0.63312567826270j,
                            -0.08206769480245 + 0.99189454584194j,
                            -0.08206769480245 - 0.99189454584194j])
PROTOTYPE_ZEROS = np.array([2.60558624790721j, -2.60558624790721j,
                            4.11507761373362j, -4.11507761373362j])
PROTOTYPE_GAIN = (0.30350847116833 * abs(PROTOTYPE_POLES[1]) ** 2 * abs(PROTOTYPE_POLES[3]) ** 2
                  / (2.60558624790721 ** 2 * 4.11507761373362 ** 2))

# The classic 32 bands' pass-band edges at 44.1 kHz.
CLASSIC_EDGES = [(18, 22), (22.5, 27.5), (28, 34), (35, 43), (44, 54), (55, 67), (69, 83),
                 (86, 104), (108, 130), (135, 164), (168, 204), (210, 256), (262, 320),
                 (328, 400), (410, 500), (511, 625), (640, 782), (799, 977), (999, 1221),
                 (1250, 1526), (1562, 1908), (1952, 2384), (2440, 2982), (3050, 3726),
                 (3812, 4658), (4765, 5823), (5956, 7278), (7445, 9099), (9306, 11374),
                 (11633, 14217), (14541, 17771), (18176, 20000)]
CLASSIC_RATE = 44100

# The program's envelope low-pass at 44.1 kHz: gain, then b1, b2, a1, a2 of its two sections.
ENVELOPE_TABLE = [0.000100025423450399,
                  -1.9757561817041, 0.999999999999999, -1.9903058548161, 0.990363837615362,
                  -1.99573462157714, 0.999999999999999, -1.99593722185238, 0.996137378403211]
ENVELOPE_EDGE = 100.0
LEVEL_SCALE = 32.767
MODULATOR_SCALE = 32767.0

ERB_KNEE = 228.7
MEL_KNEE = 700.0
SCALES = {"log": 0.0, "erb": ERB_KNEE, "mel": MEL_KNEE}


def band_pass(f1, f2, rate):
    """Second-order sections (scipy's sos rows) of the band-pass between f1 and f2 at rate."""
    omega1 = np.tan(np.pi * f1 / rate)
    omega2 = np.tan(np.pi * f2 / rate)
    omega0 = np.sqrt(omega1 * omega2)
    width = omega2 - omega1

    def to_band(roots):
        out = []
        for r in roots:
            root = np.sqrt((width * r) ** 2 - 4.0 * omega0 ** 2 + 0j)
            out += [(width * r + root) / 2.0, (width * r - root) / 2.0]
        return np.array(out)

    s_poles = to_band(PROTOTYPE_POLES)
    s_zeros = to_band(PROTOTYPE_ZEROS)
    gain = PROTOTYPE_GAIN * width * np.prod(1.0 - s_zeros) / np.prod(1.0 - s_poles)
    z_poles = (1.0 + s_poles) / (1.0 - s_poles)
    z_zeros = (1.0 + s_zeros) / (1.0 - s_zeros)
    pole_pairs = sorted((p for p in z_poles if p.imag > 0), key=lambda p: -abs(p))
    zero_pairs = [z for z in z_zeros if z.imag > 0]
    sections = []
    for pole in pole_pairs:  # nearest the unit circle first
        if zero_pairs:
            nearest = min(zero_pairs, key=lambda z: abs(z - pole))
            zero_pairs.remove(nearest)
            b = [1.0, -2.0 * np.cos(np.angle(nearest)), 1.0]
        else:
            b = [1.0, 0.0, -1.0]
        sections.append(b + [1.0, -2.0 * abs(pole) * np.cos(np.angle(pole)), abs(pole) ** 2])
    sos = np.array(sections[::-1])  # by increasing pole radius, as the program runs them
    sos[0, :3] *= gain.real
    return sos


def envelope_low_pass(rate):
    if rate == CLASSIC_RATE:
        g, *c = ENVELOPE_TABLE
        return np.array([[g, g * c[0], g * c[1], 1.0, c[2], c[3]],
                         [1.0, c[4], c[5], 1.0, c[6], c[7]]])
    return ellip(4, 1.0, 80.0, ENVELOPE_EDGE, btype="low", output="sos", fs=rate)


def classic_edges(rate):
    """The classic bands at rate: the fixed table scaled with the rate, as the program does."""
    return [(f1 * rate / CLASSIC_RATE, f2 * rate / CLASSIC_RATE) for f1, f2 in CLASSIC_EDGES]


def layout(count, low, high, scale="log", width=0.9):
    """Band edges: count bands over [low, high] Hz, evenly spaced on the scale (a name of SCALES
    or a knee in Hz), each `width` times the spacing wide."""
    knee = SCALES.get(scale, scale) if isinstance(scale, str) else scale

    def u(f):
        return np.log(f) if knee == 0 else np.log1p(f / knee)

    def f_of(v):
        return np.exp(v) if knee == 0 else knee * np.expm1(v)

    spacing = (u(high) - u(low)) / (count - 1 + width)
    starts = u(low) + spacing * np.arange(count)
    return [(float(f_of(s)), float(f_of(s + width * spacing))) for s in starts]


def describe(edges):
    """A short account of a layout: lowest band's width, how many bands are narrower than 200 Hz
    (where a voice's harmonics can stand out one by one), the f2 / f1 range."""
    widths = [f2 - f1 for f1, f2 in edges]
    ratios = [f2 / f1 for f1, f2 in edges]
    return {"lowest_width": widths[0], "narrow_bands": sum(w < 200.0 for w in widths),
            "ratio_min": min(ratios), "ratio_max": max(ratios)}


class Bank:
    """A layout designed at one rate; carrier band signals are kept per carrier, since every
    sentence meets the same carrier from its start."""

    def __init__(self, edges, rate):
        self.rate = rate
        self.bands = [band_pass(f1, f2, rate) for f1, f2 in edges]
        self.envelope = envelope_low_pass(rate)
        self._carriers = {}

    def carrier_bands(self, key, carrier):
        if key not in self._carriers:
            self._carriers[key] = [sosfilt(sos, carrier) for sos in self.bands]
        return self._carriers[key]

    def levels(self, modulator):
        """Each band's level over time, from a modulator in 16-bit units."""
        m = np.asarray(modulator, dtype=float) / MODULATOR_SCALE
        return [sosfilt(self.envelope, np.abs(sosfilt(sos, m))) * LEVEL_SCALE for sos in self.bands]

    def vocode(self, carrier_key, carrier, modulator, levels=None, gain=1.0):
        """The output in 16-bit units (times gain, rounded and clamped), as long as the shorter
        input."""
        levels = self.levels(modulator) if levels is None else levels
        length = min(len(carrier), len(modulator))
        out = np.zeros(length)
        for band, level in zip(self.carrier_bands(carrier_key, carrier), levels):
            out += band[:length] * level[:length]
        return np.clip(np.round(out * gain), -32768, 32767)
