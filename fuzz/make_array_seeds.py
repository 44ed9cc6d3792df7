"""Writes the seeds of fuzz_arrays (fuzz/corpus/arrays/) from the demo
spectra through the built module: each entry point with the values a script
passes it.  Layout: see fuzz/fuzz_arrays.cpp.

    PYTHONPATH=build/python /usr/bin/python3 fuzz/make_array_seeds.py
"""
import pathlib
import struct

import numpy as np

import tarvik

HERE = pathlib.Path(__file__).resolve().parent
STRIP, CONVERT, QUALITY, WRITE = 0, 1, 2, 3
UNFOLD, CARBON, WHOLE16 = 0x24, 0x08, 0x10


def seed(name, choice, counts, kv=80.0, width=0.1, angle=90.0, length_mm=10.0):
    head = bytes([choice]) + struct.pack("<4d", kv, width, angle, length_mm)
    counts = np.asarray(counts, dtype=float)
    body = counts.astype("<u2").tobytes() if choice & WHOLE16 else counts.astype("<f8").tobytes()
    (HERE / "corpus" / "arrays" / name).write_bytes(head + body)


def main():
    demo = tarvik.data_folder() / "Tarvik_data"
    direct = tarvik.read(demo / "W80kV_2.5mmAl_direct.csv")
    scattered = tarvik.read(demo / "W80kV_2.5mmAl_PMMA90deg.csv")
    stripped = tarvik.strip(scattered, 80, 0.1)
    (HERE / "corpus" / "arrays").mkdir(parents=True, exist_ok=True)
    seed("strip_standard", STRIP, direct.counts)
    seed("strip_unfold", STRIP | UNFOLD, direct.counts)
    seed("strip_whole16", STRIP | WHOLE16, scattered.counts)
    seed("convert_pmma", CONVERT, stripped.counts)
    seed("convert_carbon_unfold", CONVERT | CARBON | UNFOLD, stripped.counts, angle=120, length_mm=0)
    seed("quality_resampled", QUALITY | (2 << 5), stripped.counts, length_mm=0)
    seed("quality_short", QUALITY, stripped.counts[:300], width=0.2, length_mm=5)
    seed("write_mca2", WRITE | CARBON, stripped.counts)


if __name__ == "__main__":
    main()
