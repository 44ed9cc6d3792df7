#!/usr/bin/env python3
"""Compares two folders of window snapshots (frontend_snapshot,
display_snapshot) picture by picture and pixel by pixel.

For each PNG of the first folder: "same", "missing", "size WxH -> WxH", or
the number of pixels that differ and the rectangle that holds them; for each
.txt (places of the controls) the lines that differ.  Exit status 1 when
anything differs outside the pictures named with --allow.

Usage: compare_snapshots.py BEFORE AFTER [--allow NAME.png ...]
Needs numpy and matplotlib (Debian: python3-numpy python3-matplotlib).
"""
import argparse
import os
import sys

import matplotlib.image as mpimg
import numpy as np


def compare_png(a, b):
    x, y = mpimg.imread(a), mpimg.imread(b)
    if x.shape != y.shape:
        return f"size {x.shape[1]}x{x.shape[0]} -> {y.shape[1]}x{y.shape[0]}"
    diff = np.any(x != y, axis=-1) if x.ndim == 3 else (x != y)
    n = int(diff.sum())
    if n == 0:
        return None
    rows, cols = np.nonzero(diff)
    return f"{n} pixels differ in x {cols.min()}..{cols.max()}, y {rows.min()}..{rows.max()}"


def compare_txt(a, b):
    with open(a) as f:
        x = f.read().splitlines()
    with open(b) as f:
        y = f.read().splitlines()
    if x == y:
        return None
    gone = [l for l in x if l not in y]
    new = [l for l in y if l not in x]
    return "; ".join([f"- {l}" for l in gone] + [f"+ {l}" for l in new])


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("before")
    p.add_argument("after")
    p.add_argument("--allow", nargs="*", default=[], help="pictures allowed to differ")
    a = p.parse_args()
    bad = 0
    for name in sorted(os.listdir(a.before)):
        if not name.endswith((".png", ".txt")):
            continue
        other = os.path.join(a.after, name)
        if not os.path.exists(other):
            print(f"{name}: missing")
            bad += 1
            continue
        compare = compare_png if name.endswith(".png") else compare_txt
        what = compare(os.path.join(a.before, name), other)
        allowed = os.path.splitext(name)[0] + ".png" in a.allow
        print(f"{name}: {what or 'same'}{' (allowed)' if what and allowed else ''}")
        if what and not allowed:
            bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
