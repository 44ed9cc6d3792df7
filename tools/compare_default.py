#!/usr/bin/env python3
"""Differential check of the console programs' default behaviour.

Generates random valid input sets as the front end's dialogs write them
(TempFile.dat + Com.txt for tvstrip; TempFile2.dat + Com.dat for tvconv),
runs a reference pair of programs and a new pair, each in a fresh temporary
working folder with Enter piped in, and compares byte for byte: every file
the run leaves in the folder, stdout, stderr and the exit status.

    tools/compare_default.py [-n 200] [--seed 1] [--only strip|conv] [--method-line]
        [--ref-strip /work/ref/tvstrip] [--ref-conv /work/ref/tvconv]
        [--new-strip build/strip/tvstrip] [--new-conv build/conv/tvconv]
        [--data data] [--keep DIR] [--any-refusal-text]

Prints "N cases, M identical, K differ" and describes the first differing
case; with --keep the input sets of differing cases are kept in DIR.
Exit status 0 when every case is identical, 1 otherwise, 2 on a usage error.
A developer tool: it is not part of the test suite.
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

CRLF = b"\r\n"

# Text the dialogs may hold: kana, kanji, full-width and half-width forms,
# all of them encodable in code page 932.
JAPANESE = ("測定条件管電圧散乱線一次線補正検出器試料位置距離角度照射時間"
            "スペクトルデータファイル名コメントアイウエオカキクケコ"
            "ａｂｃ１２３（）　ｶﾀｶﾅﾃｽﾄｰ")
ASCII = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -_.,:;=+()"


def sjis(text):
    return text.encode("cp932")


def random_text(rng, min_bytes, max_bytes):
    """Shift_JIS bytes of mixed ASCII and Japanese text of about the given length;
    lengths around 60 bytes are frequent so that cuts fall inside characters."""
    target = rng.randint(min_bytes, max_bytes)
    out = b""
    while len(out) < target:
        pool = JAPANESE if rng.random() < 0.5 else ASCII
        out += sjis(rng.choice(pool))
    return out


def text_near_60(rng):
    r = rng.random()
    if r < 0.15:
        return b""
    if r < 0.55:
        return random_text(rng, 57, 63)
    return random_text(rng, 1, 90)


def result_name(rng):
    """A result name as the dialogs accept it (no forbidden characters);
    some long enough that the path is cut at byte 60."""
    r = rng.random()
    if r < 0.15:
        return random_text(rng, 45, 60).replace(b"\\", b"_").replace(b"/", b"_").strip(b" .") or b"x"
    pool = ASCII.replace(" ", "").replace(",", "").replace(":", "").replace(";", "")
    n = rng.randint(1, 20)
    name = "".join(rng.choice(pool) for _ in range(n)).strip(".")
    if rng.random() < 0.3:
        name += rng.choice(["測定", "補正", "ﾃｽﾄ"])
    return sjis(name or "r")


def counts(rng, limit=999999):
    kind = rng.random()
    out = []
    if kind < 0.2:
        top = rng.choice([0, 1, 10, 1000, limit])
        out = [rng.randint(0, top) for _ in range(1024)]
    else:
        # A spectrum-like shape: a hump with lines and noise, zeros at the ends.
        peak = rng.uniform(50, 900)
        width = rng.uniform(30, 400)
        height = rng.choice([100, 10000, 500000, limit])
        for i in range(1, 1025):
            x = (i - peak) / width
            v = height * max(0.0, 1 - x * x) * rng.uniform(0.8, 1.2)
            if rng.random() < 0.01:
                v += rng.uniform(0, height)
            out.append(min(limit, max(0, int(v))))
        if rng.random() < 0.3:
            out[rng.randint(0, 1023)] = limit
    return out


def spectrum_below(rng, volts, k):
    """Counts as a stripping result holds them: mostly nothing above the
    channel of the tube voltage."""
    c = counts(rng)
    if rng.random() < 0.8:
        top = int(volts * 1000 / k)
        c = [x if i < top else 0 for i, x in enumerate(c)]
    return c


def count_block(values):
    out = b""
    for i, c in enumerate(values, start=1):
        out += b" %06d" % c
        if i % 10 == 0 or i == 1024:
            out += CRLF
    return out


def voltage_text(rng):
    return b"%d" % rng.randint(6, 150)


def width_value(rng):
    """keV per channel with three decimals; a third are x.xx5 so that channel
    energies print at exact decimal ties."""
    if rng.random() < 0.35:
        k = rng.randint(0, 499) * 10 + 5
    else:
        k = rng.randint(1, 5000)
    return k


def width_text(k):
    return b"%d.%03d" % (k // 1000, k % 1000)


def lines(items):
    return b"".join(l + CRLF for l in items)


def strip_case(rng):
    name = result_name(rng)
    temp = lines([b"Tarvik_data\\" + name + b".mca1",
                  text_near_60(rng) or b"-- No comment --",
                  text_near_60(rng) or b"-- No comment --",
                  voltage_text(rng),
                  width_text(width_value(rng))]) + count_block(counts(rng))
    header = [text_near_60(rng) for _ in range(rng.randint(17, 40))]
    return {b"TempFile.dat": temp, b"Com.txt": lines(header)}


def mca1_header(rng):
    """Lines 3 to 22 of a stripping result: voltage (I3), keV per channel
    (F6.3), 17 header lines cut or padded to 60 bytes, the column heading.
    Mostly widths a conversion can use (its tables end at 800 keV)."""
    volts = rng.randint(6, 150)
    v = b"%3d" % volts
    k = width_value(rng) if rng.random() < 0.2 else rng.randint(50, 500)
    w = (b"%6.3f" % (k / 1000)).replace(b" 0.", b"  .")
    out = [v, w]
    for _ in range(17):
        t = text_near_60(rng)[:60]
        out.append(t + b" " * (60 - len(t)))
    out.append(b"  Ch.   KeV    Counts")
    return out, k, volts


# Set by --method-line: half of the conversion cases get a line 110 that
# names the standard method.
METHOD_LINE = False


def conv_case(rng):
    name = result_name(rng)
    header, k, volts = mca1_header(rng)
    angle = rng.choice([rng.randint(1, 180), rng.randint(1, 180), 90, rng.randint(0, 999)])
    length_mm = rng.choice([0, 10, rng.randint(0, 100), rng.randint(0, 100), rng.randint(0, 9999) / 10])
    length_cm = length_mm * 0.1
    length = b"%05.2f" % length_cm
    temp = lines([b"Tarvik_data\\" + name + b".mca2",
                  b"%03d" % angle,
                  length,
                  rng.choice([b"Carbon.dat", b"PMMA.dat"]),
                  voltage_text(rng),
                  width_text(k)]) + count_block(spectrum_below(rng, volts, k))
    com = lines([text_near_60(rng), text_near_60(rng)] + header)
    if METHOD_LINE and rng.random() < 0.5:
        # The optional method line that selects the standard method
        # explicitly: the reference does not read it, the new program must
        # then behave exactly as without it.
        temp += lines([rng.choice([b"standard", b"", b" standard", b"STANDARD"])])
    return {b"TempFile2.dat": temp, b"Com.dat": com}


def prepare(folder, files, data):
    os.makedirs(os.path.join(folder, b"Tarvik_data"))
    os.symlink(os.path.abspath(os.path.join(data, b"RES")), os.path.join(folder, b"RES"))
    for s in (b"Carbon.dat", b"PMMA.dat"):
        shutil.copyfile(os.path.join(data, s), os.path.join(folder, s))
    for name, content in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)


def snapshot(folder):
    """Every file below the folder (not following the RES link) with its bytes."""
    out = {}
    for root, dirs, names in os.walk(folder):
        dirs[:] = [d for d in dirs if not os.path.islink(os.path.join(root, d))]
        for n in names:
            p = os.path.join(root, n)
            rel = os.path.relpath(p, folder)
            if os.path.islink(p):
                continue
            with open(p, "rb") as f:
                out[rel] = f.read()
        for d in dirs:
            out.setdefault(os.path.relpath(os.path.join(root, d), folder) + b"/", b"<folder>")
    return out


def run(program, folder, timeout):
    try:
        p = subprocess.run([os.path.abspath(program)], cwd=folder, input=b"\n\n",
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        return p.returncode, p.stdout, p.stderr
    except subprocess.TimeoutExpired:
        return "timeout", b"", b""


def first_difference(a, b):
    for i in range(min(len(a), len(b))):
        if a[i] != b[i]:
            line = a.count(b"\n", 0, i) + 1
            return "byte %d (line %d): reference %r, new %r" % (i, line, a[max(0, i - 20):i + 20],
                                                               b[max(0, i - 20):i + 20])
    return "lengths %d (reference) and %d (new)" % (len(a), len(b))


def compare(ref, new, any_refusal_text=False):
    """A description of the first difference, or None when identical.
    With any_refusal_text the wording on stderr of a run that the reference
    refuses (non-zero exit) is not compared."""
    rc_a, out_a, err_a, files_a = ref
    rc_b, out_b, err_b, files_b = new
    if rc_a != rc_b:
        return "exit status: reference %s, new %s" % (rc_a, rc_b)
    if out_a != out_b:
        return "stdout: " + first_difference(out_a, out_b)
    if err_a != err_b and not (any_refusal_text and rc_a != 0):
        return "stderr: " + first_difference(err_a, err_b)
    if files_a.keys() != files_b.keys():
        return "files: only in reference %s, only in new %s" % (
            sorted(files_a.keys() - files_b.keys()), sorted(files_b.keys() - files_a.keys()))
    for name in sorted(files_a):
        if files_a[name] != files_b[name]:
            return "file %s: %s" % (name.decode("utf-8", "replace"),
                                    first_difference(files_a[name], files_b[name]))
    return None


def one(program, files, data, scratch, timeout):
    folder = tempfile.mkdtemp(dir=scratch).encode()
    try:
        prepare(folder, files, data)
        rc, out, err = run(program, folder, timeout)
        return rc, out, err, snapshot(folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(here)
    ap.add_argument("-n", type=int, default=200, help="number of cases per program (default 200)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--only", choices=["strip", "conv"])
    ap.add_argument("--ref-strip", default="/work/ref/tvstrip")
    ap.add_argument("--ref-conv", default="/work/ref/tvconv")
    ap.add_argument("--new-strip", default=os.path.join(root, "build/strip/tvstrip"))
    ap.add_argument("--new-conv", default=os.path.join(root, "build/conv/tvconv"))
    ap.add_argument("--data", default=os.path.join(root, "data"))
    ap.add_argument("--keep", help="folder that receives the input sets of differing cases")
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("--method-line", action="store_true",
                    help="give half of the conversion cases a line 110 naming the standard method")
    ap.add_argument("--any-refusal-text", action="store_true",
                    help="for cases the reference refuses (non-zero exit) compare the exit status, stdout and "
                         "the files left, not the wording of the message on stderr (for programs of other "
                         "wording, such as the plain timing baselines)")
    a = ap.parse_args()
    global METHOD_LINE
    METHOD_LINE = a.method_line

    kinds = [k for k in ("strip", "conv") if a.only in (None, k)]
    programs = {"strip": (a.ref_strip, a.new_strip, strip_case), "conv": (a.ref_conv, a.new_conv, conv_case)}
    for k in kinds:
        for p in programs[k][:2]:
            if not os.access(p, os.X_OK):
                print("compare_default: %s is not an executable program" % p, file=sys.stderr)
                return 2
    if not os.path.isdir(os.path.join(a.data, "RES")):
        print("compare_default: %s holds no folder RES" % a.data, file=sys.stderr)
        return 2

    rng = random.Random(a.seed)
    data = os.path.abspath(a.data).encode()
    scratch = tempfile.mkdtemp(prefix="compare_default.")
    total = same = 0
    first = None
    statuses = {}
    try:
        for i in range(a.n):
            for k in kinds:
                ref_prog, new_prog, make = programs[k]
                files = make(rng)
                ref = one(ref_prog, files, data, scratch, a.timeout)
                new = one(new_prog, files, data, scratch, a.timeout)
                total += 1
                statuses[(k, ref[0])] = statuses.get((k, ref[0]), 0) + 1
                diff = compare(ref, new, a.any_refusal_text)
                if diff is None:
                    same += 1
                    continue
                label = "%s case %d (seed %d)" % (k, i, a.seed)
                if first is None:
                    first = "%s: %s" % (label, diff)
                if a.keep:
                    d = os.path.join(a.keep, "%s-%d" % (k, i))
                    os.makedirs(d, exist_ok=True)
                    for name, content in files.items():
                        with open(os.path.join(d.encode(), name), "wb") as f:
                            f.write(content)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    print("%d cases, %d identical, %d differ" % (total, same, total - same))
    print("reference exit statuses: " + ", ".join("%s %s: %d" % (k, rc, n) for (k, rc), n in sorted(
        statuses.items(), key=str)))
    if first:
        print("first difference: " + first)
    return 0 if same == total else 1


if __name__ == "__main__":
    sys.exit(main())
