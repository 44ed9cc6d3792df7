#!/usr/bin/env python3
"""Cuts the shipped unfolding response data down to their lowest nodes, as a
small seed for fuzz_unfold_response (the whole file is over a megabyte).

The header keeps its layout, the node lines and their payload bytes are the
first NODES of the file, and the checksum (FNV-1a 64 of the payload) is
computed anew, so the cut file is read like the whole one.

Usage: python3 fuzz/cut_unfold_response.py data/RES/unfold.rsp NODES OUT
"""
import sys


def fnv1a(data: bytes) -> int:
    h = 0xcbf29ce484222325
    for b in data:
        h ^= b
        h = (h * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return h


def main() -> int:
    if len(sys.argv) != 4 or not sys.argv[2].isdigit() or int(sys.argv[2]) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    src, keep, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    raw = open(src, "rb").read()
    head, sep, payload = raw.partition(b"\ndata\n")
    if not sep:
        print(f"{src}: no data line", file=sys.stderr)
        return 1
    lines = head.split(b"\n")
    nodes = [l for l in lines if l.startswith(b"node ")]
    if keep > len(nodes):
        print(f"{src}: holds only {len(nodes)} nodes", file=sys.stderr)
        return 1
    kept = nodes[:keep]
    size = sum(int(l.split()[3]) for l in kept)
    cut = payload[:size]
    outLines = []
    for l in lines:
        if l.startswith(b"node "):
            continue
        if l.startswith(b"nodes "):
            outLines.append(b"nodes %d" % keep)
            outLines.extend(kept)
        elif l.startswith(b"checksum "):
            outLines.append(b"checksum %016x" % fnv1a(cut))
        else:
            outLines.append(l)
    with open(out, "wb") as f:
        f.write(b"\n".join(outLines) + b"\ndata\n" + cut)
    return 0


if __name__ == "__main__":
    sys.exit(main())
