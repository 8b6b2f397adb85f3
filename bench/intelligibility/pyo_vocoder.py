"""Renders pyo's Vocoder offline with its default settings: pyo_vocoder.py CARRIER MODULATOR OUT.

Debian's pyo fails in SfPlayer and SndTable on Python 3.11 (PY_SSIZE_T_CLEAN), so the inputs are
read with scipy and handed to pyo as data tables.
"""
import sys

import numpy as np
import pyo
from scipy.io import wavfile


def table_of(path):
    rate, samples = wavfile.read(path)
    samples = samples.astype(float) / 32768.0
    return rate, pyo.DataTable(size=samples.size, init=samples.tolist())


carrier_path, modulator_path, output_path = sys.argv[1:4]
server = pyo.Server(nchnls=1, duplex=0, audio="offline")
rate, _ = wavfile.read(modulator_path)
server.setSamplingRate(rate)
server.boot()
_, voice_table = table_of(modulator_path)
_, carrier_table = table_of(carrier_path)
seconds = voice_table.getSize() / rate
server.recordOptions(dur=seconds, filename=output_path, fileformat=0, sampletype=1)
voice = pyo.TableRead(voice_table, freq=voice_table.getRate())
carrier = pyo.TableRead(carrier_table, freq=carrier_table.getRate())
vocoder = pyo.Vocoder(voice, carrier).out()
voice.play()
carrier.play()
server.start()
server.shutdown()
