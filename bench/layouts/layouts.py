"""Scores band layouts with the vocoder model of vocoder.py on the sentences make_speech.sh made:
mean STOI against the clean sentence and the recogniser's word accuracy, for the sawtooth-chord
and the white-noise carrier, on the tuning or the held-out half, or on the check half (other
sentences and voices again, scored once a choice is made).

    layouts.py WORK HALF [--stoi-only] LAYOUT...

HALF is tuning, heldout or check. A LAYOUT is `classic` (the program's 32 bands at 44.1 kHz) or
COUNT:LOW:HIGH:SCALE:WIDTH[:GAIN], e.g. 24:100:8000:erb:0.9 (see vocoder.layout; SCALE is log,
erb, mel or a knee in Hz; GAIN, in dB, scales the output before it is clamped, as a layout gain
in the program would). Results are kept in WORK/results.json, so a layout scored once is not scored
again; --stoi-only leaves the recogniser out (for a first, wide search). The recogniser hears
each output at 16 kHz with its peak at -1 dBFS, as bench/intelligibility/score.py does, with the
same fast settings; word accuracy is given over all voices and over flite's voices alone
(espeak-ng's speech is hard for the recogniser even clean).
"""

import hashlib
import json
import multiprocessing
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
from scipy.io import wavfile

here = Path(__file__).resolve().parent
sys.path.insert(0, str(here))
sys.path.insert(0, str(here.parent / "intelligibility"))
import score  # noqa: E402
import stoi  # noqa: E402
import vocoder  # noqa: E402

RATE = 44100
CARRIERS = ("chord", "noise")


# A design "program:OPTIONS" scores lumivox-cli itself (the path in LUMIVOX_CLI) run with the
# options, comma-separated, such as program:--bands=speech,--clarity=50.
PROGRAM = "program:"


def edges_of(design):
    if design.startswith(PROGRAM):
        return []
    if design == "classic":
        return vocoder.classic_edges(RATE)
    count, low, high, scale, width = design.split(":")[:5]
    scale = scale if scale in vocoder.SCALES else float(scale)
    return vocoder.layout(int(count), float(low), float(high), scale, float(width))


def gain_of(design):
    """The optional sixth field: a gain in dB applied before the output is clamped."""
    if design.startswith(PROGRAM):
        return 1.0
    fields = design.split(":")
    return 10.0 ** (float(fields[5]) / 20.0) if len(fields) > 5 else 1.0


def read_texts(work, half):
    rows = []
    for line in (work / "texts").read_text().splitlines():
        name, row_half, voice, text = line.split("|", 3)
        if row_half == half:
            rows.append((name, voice, text))
    return rows


_bank = None
_gain = 1.0
_carriers = {}
_program = None


def _start(work, design):
    global _bank, _gain, _program
    if design.startswith(PROGRAM):
        _program = [os.environ["LUMIVOX_CLI"], "--quiet", *design[len(PROGRAM):].split(",")]
    else:
        _bank = vocoder.Bank(edges_of(design), RATE)
    _gain = gain_of(design)
    for carrier in CARRIERS:
        _carriers[carrier] = wavfile.read(work / "carriers" / f"{carrier}.wav")[1].astype(float)


def _render(job):
    """Vocodes one sentence with both carriers; returns STOI and clipping per carrier and leaves
    the outputs for the recogniser."""
    work, key, name, want_recogniser = job
    _, modulator = wavfile.read(work / "speech" / f"{name}.wav")
    modulator = modulator.astype(float)
    levels = _bank.levels(modulator) if _program is None else None
    clean = modulator / 32768.0
    result = {}
    for carrier in CARRIERS:
        if _program is None:
            out = _bank.vocode(carrier, _carriers[carrier], modulator, levels, _gain) / 32768.0
        else:
            made = work / "rec" / key / f"{carrier}-{name}.program.wav"
            made.parent.mkdir(parents=True, exist_ok=True)
            subprocess.run([*_program, str(work / "carriers" / f"{carrier}.wav"),
                            str(work / "speech" / f"{name}.wav"), str(made)], check=True)
            out = wavfile.read(made)[1].astype(float) / 32768.0
            made.unlink()
            out = np.pad(out, (0, max(0, len(clean) - len(out))))[:len(clean)]
        clipped = bool(np.max(np.abs(out)) >= 32767.0 / 32768.0)
        result[carrier] = [stoi.stoi(clean, out, RATE), clipped]
        if want_recogniser:
            target = work / "rec" / key / carrier / f"{name}.wav"
            target.parent.mkdir(parents=True, exist_ok=True)
            source = target.with_suffix(".44k.wav")
            wavfile.write(source, RATE, np.round(out * 32767.0).astype(np.int16))
            score.for_recogniser(source, target)
            source.unlink()
    return name, result


def key_of(design):
    """A short folder name for a design's outputs: pocketsphinx breaks the lines of its result
    file when the names in it are long, and program options make long names."""
    return "d" + hashlib.sha1(design.encode()).hexdigest()[:12]


# The forty sentences of sentences_more.txt (and their own voices) are named m...; the groups of
# the figures split them from the first 120.
GROUPS = {"first": lambda name: not name.startswith("m"), "more": lambda name: name.startswith("m")}


def accuracy(rows, heard, prefix, voices=None, group=None):
    errors = total = 0
    for name, voice, text in rows:
        if voices is not None and not voice.startswith(voices):
            continue
        if group is not None and not GROUPS[group](name):
            continue
        reference = text.split()
        errors += score.edit_distance(reference, heard.get(f"{prefix}/{name}", []))
        total += len(reference)
    return 100.0 * (1.0 - errors / total) if total else float("nan")


def clean_accuracy(work, rows):
    names = []
    for name, _, _ in rows:
        target = work / "rec" / "clean" / f"{name}.wav"
        target.parent.mkdir(parents=True, exist_ok=True)
        score.for_recogniser(work / "speech" / f"{name}.wav", target)
        names.append(f"clean/{name}")
    heard = score.recognise(work, names)
    return (accuracy(rows, heard, "clean"), accuracy(rows, heard, "clean", FLITE),
            *(accuracy(rows, heard, "clean", group=group) for group in GROUPS))


FLITE = ("slt", "awb", "rms", "kal16")
HALVES = {"tuning": "T", "heldout": "H", "check": "C"}


def measure(work, half, design, stoi_only):
    rows = read_texts(work, half)
    key = key_of(design)
    jobs = [(work, key, name, not stoi_only) for name, _, _ in rows]
    with multiprocessing.Pool(2, initializer=_start, initargs=(work, design)) as pool:
        rendered = dict(pool.map(_render, jobs))
    entry = {"edges": [[round(f1, 1), round(f2, 1)] for f1, f2 in edges_of(design)],
             **(vocoder.describe(edges_of(design)) if edges_of(design) else {})}
    for carrier in CARRIERS:
        values = [rendered[name][carrier][0] for name, _, _ in rows]
        entry[carrier] = {"stoi": float(np.mean(values)),
                          "clipped": sum(rendered[name][carrier][1] for name, _, _ in rows)}
        for group, member in GROUPS.items():
            values = [rendered[name][carrier][0] for name, _, _ in rows if member(name)]
            if values:
                entry[carrier][f"stoi_{group}"] = float(np.mean(values))
    if not stoi_only:
        names = [f"{key}/{carrier}/{name}" for carrier in CARRIERS for name, _, _ in rows]
        heard = score.recognise(work, names)
        for carrier in CARRIERS:
            entry[carrier]["words"] = accuracy(rows, heard, f"{key}/{carrier}")
            entry[carrier]["words_flite"] = accuracy(rows, heard, f"{key}/{carrier}", FLITE)
            for group, member in GROUPS.items():
                if any(member(name) for name, _, _ in rows):
                    entry[carrier][f"words_{group}"] = accuracy(
                        rows, heard, f"{key}/{carrier}", group=group)
    return entry


def main():
    args = sys.argv[1:]
    stoi_only = "--stoi-only" in args
    args = [a for a in args if a != "--stoi-only"]
    work, half, designs = Path(args[0]).resolve(), args[1], args[2:]
    if half == "table":
        print_table(work, designs)
        return
    assert half in HALVES, half
    (work / "rec").mkdir(exist_ok=True)
    results_path = work / "results.json"
    results = json.loads(results_path.read_text()) if results_path.exists() else {}
    clean_key = f"clean|{half}"
    if clean_key not in results and not stoi_only:
        results[clean_key] = clean_accuracy(work, read_texts(work, half))
        results_path.write_text(json.dumps(results, indent=1))
    for design in designs:
        key = f"{design}|{half}"
        have = results.get(key)
        if have and (stoi_only or "words" in have["chord"]):
            continue
        entry = measure(work, half, design, stoi_only)
        # Read again: another run may have added layouts meanwhile.
        results = json.loads(results_path.read_text()) if results_path.exists() else {}
        results[key] = entry
        results_path.write_text(json.dumps(results, indent=1))
        print(line_of(design, results[key]), flush=True)
    if clean_key in results:
        print(f"clean {half}: words {results[clean_key][0]:.1f} % (flite {results[clean_key][1]:.1f} %)")


def print_table(work, designs):
    """Tuning against held-out figures of the layouts given, from WORK/results.json, as a
    Markdown table."""
    results = json.loads((work / "results.json").read_text())
    for half in HALVES:
        clean = results.get(f"clean|{half}")
        if clean:
            print(f"clean {half}: words {clean[0]:.1f} % (flite {clean[1]:.1f} %)")
    print("| layout | half | chord STOI | chord words % | noise STOI | noise words % | clip"
          " (chord) | lowest band |")
    print("|---|---|---|---|---|---|---|---|")
    for design in designs:
        for half, mark in HALVES.items():
            entry = results.get(f"{design}|{half}")
            if not entry:
                continue
            cells = [design, mark]
            for carrier in CARRIERS:
                e = entry[carrier]
                cells.append(f"{e['stoi']:.3f}")
                cells.append(f"{e['words']:.1f} ({e['words_flite']:.1f})" if "words" in e else "-")
            cells.append(str(entry["chord"]["clipped"]))
            cells.append(f"{entry['lowest_width']:.0f} Hz, {entry['narrow_bands']} < 200 Hz"
                         if "lowest_width" in entry else "the program")
            print("| " + " | ".join(cells) + " |")
    print()
    print("| layout | half | sentences | chord STOI | chord words % | noise STOI | noise words % |")
    print("|---|---|---|---|---|---|---|")
    for design in designs:
        for half, mark in HALVES.items():
            entry = results.get(f"{design}|{half}")
            for group in GROUPS:
                if not entry or f"stoi_{group}" not in entry["chord"]:
                    continue
                cells = [design, mark, group]
                for carrier in CARRIERS:
                    e = entry[carrier]
                    cells.append(f"{e[f'stoi_{group}']:.3f}")
                    cells.append(f"{e[f'words_{group}']:.1f}" if f"words_{group}" in e else "-")
                print("| " + " | ".join(cells) + " |")


def line_of(design, entry):
    parts = [f"{design:<26}"]
    for carrier in CARRIERS:
        e = entry[carrier]
        words = f"{e['words']:5.1f} {e['words_flite']:5.1f}" if "words" in e else "    -     -"
        parts.append(f"{carrier} {e['stoi']:.3f} {words} clip {e['clipped']:2d}")
        if "stoi_more" in e:
            more = f" {e['words_more']:5.1f}" if "words_more" in e else ""
            parts.append(f"(new sentences {e['stoi_more']:.3f}{more})")
    if "lowest_width" in entry:
        parts.append(f"lowest {entry['lowest_width']:6.1f} Hz, {entry['narrow_bands']} < 200 Hz")
    return " | ".join(parts)


if __name__ == "__main__":
    os.environ.setdefault("OMP_NUM_THREADS", "1")
    main()
