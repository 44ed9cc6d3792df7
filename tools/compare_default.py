#!/usr/bin/env python3
"""Differential check of the console programs' default behaviour.

Generates random input sets as the front end's dialogs write them
(TempFile.dat + Com.txt for tvstrip; TempFile2.dat + Com.dat for tvconv; a
few stripping sets without a voltage or with a width of 0, which both
programs must refuse alike), runs a reference pair of programs and a new
pair, each in a fresh temporary working folder with Enter piped in, and
compares byte for byte: every file the run leaves in the folder, stdout,
stderr and the exit status.

    tools/compare_default.py [-n 200] [--seed 1] [--only strip|conv] [--method-line]
        [--ref-commit 5f309aa] [--ref-strip PROGRAM] [--ref-conv PROGRAM]
        [--new-strip build/strip/tvstrip] [--new-conv build/conv/tvconv]
        [--data data] [--keep DIR] [--any-refusal-text]

The reference programs are built from a commit of this repository
(--ref-commit, by default 5f309aa, the original programs): its tree is
exported with git archive into build-ref/<commit>/src and only tvstrip and
tvconv are built there, once; later runs reuse them.  --ref-strip and
--ref-conv name ready-made reference programs instead.

--method-line gives half of the cases a method line that asks for the
standard method (line 109 of TempFile.dat, line 110 of TempFile2.dat): the
reference does not read it, and the new program must behave exactly as
without it, except that tvstrip names a method given by name on one console
line ("  Method: standard ..."), which is the one difference allowed.

Prints "N cases, M identical, K differ" and describes the first differing
case; with --keep the input sets of differing cases are kept in DIR.
Exit status 0 when every case is identical, 1 otherwise, 2 on a usage error.
The tests tvstrip_plain_matches_tvstrip and tvconv_plain_matches_tvconv run
it on the plain timing baselines.
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

CRLF = b"\r\n"

# The commit of the original console programs, the default reference.
ORIGINAL_COMMIT = "5f309aa"

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


# Set by --method-line: half of the cases get a method line that asks for
# the standard method.
METHOD_LINE = False

# The console line tvstrip adds when the method line names the standard
# method, and the line it follows.
STRIP_HEADING = b"  ----- Stripping correction -----\n"
STRIP_METHOD = b"  Method: standard (stripping with the response tables)\n"


def strip_case(rng):
    """The input set and whether its line 109 names the standard method."""
    name = result_name(rng)
    r = rng.random()
    # Mostly what the dialog writes; a few sets it never writes (no voltage,
    # a width of 0), which both programs must refuse in the same words.
    volts = b"" if r < 0.05 else voltage_text(rng)
    width = b"0.000" if 0.05 <= r < 0.1 else width_text(width_value(rng))
    temp = lines([b"Tarvik_data\\" + name + b".mca1",
                  text_near_60(rng) or b"-- No comment --",
                  text_near_60(rng) or b"-- No comment --",
                  volts,
                  width]) + count_block(counts(rng))
    named = False
    if METHOD_LINE and rng.random() < 0.5:
        # Line 109: the reference does not read it.  A blank one names no
        # method; "standard", with or without blanks around it, names it.
        method = rng.choice([b"standard", b"", b" standard", b"standard  "])
        named = method.strip() != b""
        temp += lines([method])
    header = [text_near_60(rng) for _ in range(rng.randint(17, 40))]
    return {b"TempFile.dat": temp, b"Com.txt": lines(header)}, named


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


def conv_case(rng):
    """The input set; tvconv names no method on its console."""
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
    return {b"TempFile2.dat": temp, b"Com.dat": com}, False


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


def compare(ref, new, any_refusal_text=False, method_named=False):
    """A description of the first difference, or None when identical.
    With any_refusal_text the wording on stderr of a run that the reference
    refuses (non-zero exit) is not compared.  With method_named the new
    program's console may name the standard method on the one line after
    the heading of the stripping."""
    rc_a, out_a, err_a, files_a = ref
    rc_b, out_b, err_b, files_b = new
    if method_named:
        out_b = out_b.replace(STRIP_HEADING + STRIP_METHOD, STRIP_HEADING, 1)
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


class UsageError(Exception):
    pass


def build_reference(root, commit, jobs):
    """tvstrip and tvconv of `commit`, built once into build-ref/<commit>/:
    the commit's tree is exported with git archive into src/ and configured
    in build/ without the front end, the generator and the benchmarks; only
    the two console programs are built.  A finished build leaves the file
    built; a build cut short is completed by the next call."""
    try:
        full = subprocess.run(["git", "-C", root, "rev-parse", "--verify", "--quiet", commit + "^{commit}"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout.decode().strip()
    except (OSError, subprocess.CalledProcessError):
        raise UsageError("%s is not a commit of the git repository %s (--ref-commit needs a git checkout; "
                         "--ref-strip and --ref-conv name ready-made programs)" % (commit, root))
    cache = os.path.join(root, "build-ref", full)
    programs = (os.path.join(cache, "build", "strip", "tvstrip"), os.path.join(cache, "build", "conv", "tvconv"))
    stamp = os.path.join(cache, "built")
    if os.path.exists(stamp) and all(os.access(p, os.X_OK) for p in programs):
        return programs
    print("compare_default: building tvstrip and tvconv of commit %s in %s (once)" % (full[:12], cache),
          file=sys.stderr, flush=True)
    src = os.path.join(cache, "src")
    if not os.path.isfile(os.path.join(src, "CMakeLists.txt")):
        shutil.rmtree(src, ignore_errors=True)
        os.makedirs(src)
        archive = subprocess.Popen(["git", "-C", root, "archive", "--format=tar", full], stdout=subprocess.PIPE)
        subprocess.run(["tar", "-x", "-C", src], stdin=archive.stdout, check=True)
        archive.stdout.close()
        if archive.wait() != 0:
            shutil.rmtree(src, ignore_errors=True)
            raise UsageError("git archive of commit %s failed" % full)
    configure = ["cmake", "-S", src, "-B", os.path.join(cache, "build"), "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=Release", "-DTARVIK_GUI=OFF", "-DTARVIK_GENERATOR=OFF",
                 "-DTARVIK_BENCHMARKS=OFF"]
    if shutil.which("ccache"):
        configure += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
    for step in (configure, ["cmake", "--build", os.path.join(cache, "build"), "-j", str(jobs),
                             "--target", "tvstrip", "tvconv"]):
        p = subprocess.run(step, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if p.returncode != 0:
            sys.stderr.write(p.stdout.decode("utf-8", "replace")[-4000:])
            raise UsageError("building the reference programs of commit %s failed (%s)" % (full, " ".join(step[:2])))
    with open(stamp, "w") as f:
        f.write(full + "\n")
    return programs


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(here)
    ap.add_argument("-n", type=int, default=200, help="number of cases per program (default 200)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--only", choices=["strip", "conv"])
    ap.add_argument("--ref-commit", default=ORIGINAL_COMMIT,
                    help="build the reference programs from this commit into build-ref/<commit>/, once (default "
                         "%s, the original programs); not needed for a program given by --ref-strip/--ref-conv"
                         % ORIGINAL_COMMIT)
    ap.add_argument("--ref-strip", help="a ready-made reference tvstrip")
    ap.add_argument("--ref-conv", help="a ready-made reference tvconv")
    ap.add_argument("--jobs", type=int, default=2, help="parallel jobs of the reference build (default 2)")
    ap.add_argument("--new-strip", default=os.path.join(root, "build/strip/tvstrip"))
    ap.add_argument("--new-conv", default=os.path.join(root, "build/conv/tvconv"))
    ap.add_argument("--data", default=os.path.join(root, "data"))
    ap.add_argument("--keep", help="folder that receives the input sets of differing cases")
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("--method-line", action="store_true",
                    help="give half of the cases a method line naming the standard method (line 109 of "
                         "TempFile.dat, line 110 of TempFile2.dat)")
    ap.add_argument("--any-refusal-text", action="store_true",
                    help="for cases the reference refuses (non-zero exit) compare the exit status, stdout and "
                         "the files left, not the wording of the message on stderr (for programs of other "
                         "wording, such as the plain timing baselines)")
    a = ap.parse_args()
    global METHOD_LINE
    METHOD_LINE = a.method_line

    kinds = [k for k in ("strip", "conv") if a.only in (None, k)]
    try:
        if not os.path.isdir(os.path.join(a.data, "RES")):
            raise UsageError("%s holds no folder RES" % a.data)
        for k in kinds:
            p = a.new_strip if k == "strip" else a.new_conv
            if not os.access(p, os.X_OK):
                raise UsageError("%s is not an executable program" % p)
        needed = [k for k in kinds if (a.ref_strip if k == "strip" else a.ref_conv) is None]
        if needed:
            built = dict(zip(("strip", "conv"), build_reference(root, a.ref_commit, a.jobs)))
            if a.ref_strip is None:
                a.ref_strip = built["strip"]
            if a.ref_conv is None:
                a.ref_conv = built["conv"]
        for k in kinds:
            p = a.ref_strip if k == "strip" else a.ref_conv
            if not os.access(p, os.X_OK):
                raise UsageError("%s is not an executable program" % p)
    except UsageError as e:
        print("compare_default: %s" % e, file=sys.stderr)
        return 2
    programs = {"strip": (a.ref_strip, a.new_strip, strip_case), "conv": (a.ref_conv, a.new_conv, conv_case)}

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
                files, named = make(rng)
                ref = one(ref_prog, files, data, scratch, a.timeout)
                new = one(new_prog, files, data, scratch, a.timeout)
                total += 1
                statuses[(k, ref[0])] = statuses.get((k, ref[0]), 0) + 1
                diff = compare(ref, new, a.any_refusal_text, named)
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
