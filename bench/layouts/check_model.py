"""How closely the model of vocoder.py follows the program: the classic layout through the model
and through lumivox-cli (defaults, Clarity 0) on the same sentences and carriers, compared sample
by sample. Prints, per carrier, the correlation, the ratio of the program's output power to the
difference's power (dB), and the largest difference in 16-bit steps.

    check_model.py WORK LUMIVOX_CLI [SENTENCE_COUNT]
"""

import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np
from scipy.io import wavfile

here = Path(__file__).resolve().parent
sys.path.insert(0, str(here))
import vocoder  # noqa: E402

CARRIERS = ("chord", "noise")


def main():
    work, program = Path(sys.argv[1]), sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 6
    names = [line.split("|")[0] for line in (work / "texts").read_text().splitlines()][:count]
    bank = vocoder.Bank(vocoder.classic_edges(44100), 44100)
    with tempfile.TemporaryDirectory() as folder:
        folder = Path(folder)
        for carrier in CARRIERS:
            _, carrier_samples = wavfile.read(work / "carriers" / f"{carrier}.wav")
            signal = noise = 0.0
            products = []
            worst = 0.0
            for name in names:
                _, modulator = wavfile.read(work / "speech" / f"{name}.wav")
                trimmed = folder / "carrier.wav"
                wavfile.write(trimmed, 44100, carrier_samples[: modulator.size])
                output = folder / "out.wav"
                subprocess.run([program, "--quiet", str(trimmed), str(work / "speech" / f"{name}.wav"),
                                str(output)], check=True)
                _, made = wavfile.read(output)
                made = made.astype(float)
                model = bank.vocode(carrier, carrier_samples.astype(float), modulator.astype(float))
                assert made.size == model.size, (name, made.size, model.size)
                signal += np.sum(made ** 2)
                noise += np.sum((made - model) ** 2)
                products.append((made, model))
                worst = max(worst, float(np.max(np.abs(made - model))))
            made = np.concatenate([p[0] for p in products])
            model = np.concatenate([p[1] for p in products])
            print(f"{carrier}: {len(names)} sentences, correlation {np.corrcoef(made, model)[0, 1]:.9f},"
                  f" program / difference {10 * np.log10(signal / max(noise, 1e-30)):.1f} dB,"
                  f" largest difference {worst:.0f} steps")


if __name__ == "__main__":
    main()
