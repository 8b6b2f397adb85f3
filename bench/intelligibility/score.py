"""Scores the vocoded sentences that run.sh left in WORK/out/CARRIER/SYSTEM/ and prints one table:
mean STOI against the clean sentence, the recogniser's word accuracy (1 - (S + D + I) / N over all
sentences) and how many outputs reached full scale.

    score.py WORK
"""

import json
import multiprocessing
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
from scipy.io import wavfile
from scipy.signal import resample_poly

sys.path.insert(0, str(Path(__file__).resolve().parent))
import stoi  # noqa: E402

RECOGNISER_RATE = 16000
MODEL = Path("/usr/share/pocketsphinx/model/en-us")
RECOGNISER_OPTIONS = ["-maxhmmpf", "5000", "-fwdflat", "no", "-bestpath", "no"]


def read_mono(path):
    rate, samples = wavfile.read(path)
    if samples.ndim > 1:
        samples = samples[:, 0]
    if samples.dtype == np.int16:
        full_scale = 32767.0
    elif samples.dtype == np.int32:
        full_scale = 2147483647.0
    else:
        full_scale = 1.0
    return rate, samples.astype(float) / full_scale


def score_one(job):
    clean_path, vocoded_path = job
    rate, clean = read_mono(clean_path)
    vocoded_rate, vocoded = read_mono(vocoded_path)
    assert vocoded_rate == rate, vocoded_path
    clipped = bool(np.max(np.abs(vocoded)) >= 32767.0 / 32768.0)
    vocoded = np.pad(vocoded[: clean.size], (0, max(0, clean.size - vocoded.size)))
    return stoi.stoi(clean, vocoded, rate), clipped


def for_recogniser(source, target):
    """Writes source at 16 kHz, 16-bit, peaking at -1 dBFS. Done here rather than with sox, which
    clips floating-point samples beyond full scale as it reads them. A target newer than its source
    is left as it is."""
    if target.exists() and target.stat().st_mtime_ns >= Path(source).stat().st_mtime_ns:
        return
    rate, samples = read_mono(source)
    samples = resample_poly(samples, RECOGNISER_RATE, rate)
    peak = np.max(np.abs(samples))
    if peak > 0.0:
        samples *= 10.0 ** (-1.0 / 20.0) / peak
    wavfile.write(target, RECOGNISER_RATE, np.round(samples * 32767.0).astype(np.int16))


def edit_distance(reference, hypothesis):
    row = list(range(len(hypothesis) + 1))
    for i, word in enumerate(reference, 1):
        previous, row[0] = row[0], i
        for j, guess in enumerate(hypothesis, 1):
            previous, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, previous + (word != guess))
    return row[-1]


def recognise(work, utterances):
    """utterances: names relative to work/rec without .wav; returns name -> list of words.
    What was heard is kept in work/rec/heard.json with each file's size and time, and only new or
    changed files are heard again."""
    cache_path = work / "rec" / "heard.json"
    cache = json.loads(cache_path.read_text()) if cache_path.exists() else {}

    def stamp(name):
        status = (work / "rec" / f"{name}.wav").stat()
        return [status.st_size, status.st_mtime_ns]

    fresh = [name for name in utterances if cache.get(name, [None])[0] != stamp(name)]
    if fresh:
        for name, words in hear(work, fresh).items():
            cache[name] = [stamp(name), words]
        cache_path.write_text(json.dumps(cache))
    return {name: cache[name][1] for name in utterances if name in cache}


def hear(work, utterances):
    halves = [utterances[0::2], utterances[1::2]]
    processes = []
    for index, half in enumerate(halves):
        part = work / "rec" / f"part{index}.ctl"
        part.write_text("".join(name + "\n" for name in half))
        command = ["pocketsphinx_batch", "-adcin", "yes", "-cepdir", str(work / "rec"),
                   "-cepext", ".wav", "-ctl", str(part), "-hmm", str(MODEL / "en-us"),
                   "-lm", str(MODEL / "en-us.lm.bin"), "-dict", str(MODEL / "cmudict-en-us.dict"),
                   "-hyp", str(work / "rec" / f"part{index}.hyp"), *RECOGNISER_OPTIONS]
        processes.append(subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL))
    for process in processes:
        if process.wait() != 0:
            sys.exit("pocketsphinx_batch failed")
    words = {}
    for index in range(2):
        for line in (work / "rec" / f"part{index}.hyp").read_text().splitlines():
            text, _, rest = line.rpartition(" (")
            words[rest.split()[0]] = text.split()
    return words


def main():
    work = Path(sys.argv[1])
    texts = dict(line.split("|", 1) for line in (work / "texts").read_text().splitlines())
    conditions = sorted((carrier.name, system.name) for carrier in (work / "out").iterdir()
                        for system in carrier.iterdir())
    order = {"chord": 0, "noise": 1}
    systems = []
    for _, system in conditions:
        if system not in systems:
            systems.append(system)
    systems.sort(key=lambda s: (0, int(s.split("-")[1]), "") if s.startswith("lumivox-")
                 else (1, 0, s))

    jobs, keys = [], []
    for carrier, system in conditions:
        for name in texts:
            jobs.append((work / "speech" / f"{name}.wav", work / "out" / carrier / system
                         / f"{name}.wav"))
            keys.append((carrier, system, name))
    with multiprocessing.Pool(2) as pool:
        scores = pool.map(score_one, jobs)

    # The recogniser hears every output at 16 kHz with its peak at -1 dBFS.
    utterances = []
    for name in texts:
        target = work / "rec" / "clean" / f"{name}.wav"
        target.parent.mkdir(parents=True, exist_ok=True)
        for_recogniser(work / "speech" / f"{name}.wav", target)
        utterances.append(f"clean/{name}")
    for (carrier, system, name), (source, vocoded) in zip(keys, jobs):
        target = work / "rec" / carrier / system / f"{name}.wav"
        target.parent.mkdir(parents=True, exist_ok=True)
        for_recogniser(vocoded, target)
        utterances.append(f"{carrier}/{system}/{name}")
    heard = recognise(work, utterances)

    def accuracy(prefix):
        errors = total = 0
        for name, text in texts.items():
            reference = text.split()
            errors += edit_distance(reference, heard.get(f"{prefix}/{name}", []))
            total += len(reference)
        return 100.0 * (1.0 - errors / total)

    table = {}
    for (carrier, system, name), (value, clipped) in zip(keys, scores):
        entry = table.setdefault((carrier, system), {"stoi": [], "clipped": 0})
        entry["stoi"].append(value)
        entry["clipped"] += clipped

    print(f"{len(texts)} sentences; STOI against the clean sentence (delay searched within"
          " +-50 ms), word accuracy of pocketsphinx; clipped = outputs reaching full scale")
    header = f"{'system':<14}"
    carriers = sorted({c for c, _ in conditions}, key=lambda c: order.get(c, 9))
    for carrier in carriers:
        header += f" | {carrier + ' STOI':>11} {'words %':>8} {'clipped':>7}"
    print(header)
    print("-" * len(header))
    print(f"{'clean voice':<14}" + "".join(f" | {1.0:>11.3f} {accuracy('clean'):>8.1f} {'':>7}"
                                           for _ in carriers))
    for system in systems:
        line = f"{system:<14}"
        for carrier in carriers:
            entry = table.get((carrier, system))
            if entry is None:
                line += f" | {'-':>11} {'-':>8} {'-':>7}"
                continue
            line += (f" | {np.mean(entry['stoi']):>11.3f} {accuracy(f'{carrier}/{system}'):>8.1f}"
                     f" {entry['clipped']:>7d}")
        print(line)


if __name__ == "__main__":
    os.environ.setdefault("OMP_NUM_THREADS", "1")
    main()
