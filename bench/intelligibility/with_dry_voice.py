#!/usr/bin/python3
"""How far the recogniser's word accuracy is from the vocoding itself: adds the unprocessed
sentence to Lumivox's Clarity 50 outputs at several levels below the vocoded output's level, as
systems "dry-12", "dry-6" and so on next to the others, for score.py to score with the rest.
Usage: with_dry_voice.py WORK_DIR [DECIBELS ...] (default 12 6), after run.sh has made
WORK_DIR/out/*/lumivox-50; then run score.py WORK_DIR again."""
import sys
from pathlib import Path

import numpy as np
from scipy.io import wavfile

work = Path(sys.argv[1])
levels = [float(level) for level in sys.argv[2:]] or [12.0, 6.0]
names = [line.split("|", 1)[0] for line in (work / "texts").read_text().splitlines()]
for carrier in (work / "out").iterdir():
    vocoded_dir = carrier / "lumivox-50"
    if not vocoded_dir.is_dir():
        continue
    for level in levels:
        target = carrier / f"dry-{level:g}"
        target.mkdir(exist_ok=True)
        for name in names:
            rate, voice = wavfile.read(work / "speech" / f"{name}.wav")
            _, vocoded = wavfile.read(vocoded_dir / f"{name}.wav")
            voice, vocoded = voice.astype(float), vocoded.astype(float)
            length = min(len(voice), len(vocoded))
            # The voice at the vocoded output's RMS level, then the given decibels below it.
            scale = np.sqrt(np.mean(vocoded ** 2) / np.mean(voice ** 2)) * 10 ** (-level / 20)
            mixed = vocoded[:length] + scale * voice[:length]
            peak = np.max(np.abs(mixed))
            if peak > 32767:
                mixed *= 32767 / peak
            wavfile.write(target / f"{name}.wav", rate, np.round(mixed).astype(np.int16))
