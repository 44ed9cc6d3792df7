"""The module against the programs: random spectra, voltages, widths, texts,
angles and lengths through tvstrip and tvconv (run in folders of their own
with the exchange files the front end writes) and through tarvik.strip and
tarvik.convert; the results, written by tarvik.write, must be the programs'
files byte for byte, and where a program refuses, the module must raise.
The beam-quality figures against `tarvik quality --json`."""
import json
import random
import subprocess

import numpy as np
import pytest

import tarvik
from conftest import count_block, lines

# Texts of the dialogs: kana, kanji, full- and half-width forms, ASCII.
JAPANESE = "測定条件管電圧散乱線一次線補正検出器試料位置距離角度ａｂｃ１２３（）　ｶﾀｶﾅﾃｽﾄｰ"
ASCII = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -_.,:;=+()"


def text(rng, most=90):
    """A text whose Shift_JIS form is often near the 60 bytes the programs
    keep, so that their cuts fall inside double-byte characters."""
    if rng.random() < 0.15:
        return ""
    target = rng.randint(57, 63) if rng.random() < 0.5 else rng.randint(1, most)
    out = ""
    while len(out.encode("cp932")) < target:
        out += rng.choice(JAPANESE if rng.random() < 0.5 else ASCII)
    return out


def sjis(t):
    return t.encode("cp932")


def spectrum_counts(rng, limit=999999):
    if rng.random() < 0.2:
        top = rng.choice([0, 1, 10, 1000, limit])
        return [rng.randint(0, top) for _ in range(1024)]
    peak, width = rng.uniform(50, 900), rng.uniform(30, 400)
    height = rng.choice([100, 10000, 500000, limit])
    out = []
    for i in range(1, 1025):
        x = (i - peak) / width
        out.append(min(limit, max(0, int(height * max(0.0, 1 - x * x) * rng.uniform(0.8, 1.2)))))
    return out


def width(rng):
    """keV per channel with three decimals, a third of them at x.xx5."""
    k = rng.randint(0, 499) * 10 + 5 if rng.random() < 0.35 else rng.randint(1, 5000)
    return k


def strip_case(rng):
    return dict(
        counts=spectrum_counts(rng),
        kv=rng.randint(6, 150),
        k=width(rng),
        comments=(text(rng), text(rng)),
        header=[text(rng) for _ in range(rng.randint(17, 25))],
    )


def run_strip_case(case, tmp_path, run_tvstrip, method="standard"):
    comments = [sjis(c) or b"-- No comment --" for c in case["comments"]]
    temp = lines([b"Tarvik_data\\r.mca1", *comments, b"%d" % case["kv"],
                  b"%d.%03d" % (case["k"] // 1000, case["k"] % 1000)]) + count_block(case["counts"])
    if method == "unfold":
        temp += lines([b"unfold"])
    tmp_path.mkdir(parents=True, exist_ok=True)
    run = run_tvstrip(tmp_path / "tvstrip", temp, lines([sjis(h) for h in case["header"]]))
    expected = tmp_path / "tvstrip" / "Tarvik_data" / "r.mca1"
    measured = tarvik.Spectrum(np.array(case["counts"], dtype=float), header=case["header"])
    try:
        result = tarvik.strip(measured, case["kv"], case["k"] / 1000, method=method, comments=case["comments"])
    except tarvik.Error as e:
        assert not expected.exists(), f"tvstrip wrote a result, the module refused: {e}"
        return None
    assert expected.exists(), f"the module stripped what tvstrip refused: {run.stdout[-300:]!r}"
    tarvik.write(result, tmp_path / "module.mca1")
    assert (tmp_path / "module.mca1").read_bytes() == expected.read_bytes()
    # The counts as the front end reads the program's file.
    assert np.array_equal(result.counts, tarvik.read(expected).counts)
    return result


def test_strip_is_tvstrip_on_random_cases(tmp_path, run_tvstrip):
    rng = random.Random(19)
    done = 0
    for n in range(30):
        if run_strip_case(strip_case(rng), tmp_path / str(n), run_tvstrip) is not None:
            done += 1
    # Most random cases are valid runs, so the comparison is of results.
    assert done >= 25


def test_unfold_is_tvstrip_unfold(tmp_path, run_tvstrip, demo_dir):
    measured = tarvik.read(demo_dir / "W80kV_2.5mmAl_direct.csv")
    case = dict(counts=[int(c) for c in measured.counts], kv=80, k=100, comments=("直接線", ""),
                header=measured.header)
    result = run_strip_case(case, tmp_path / "demo", run_tvstrip, method="unfold")
    assert result is not None and result.counts.sum() > 0


def conv_case(rng):
    """A stripped spectrum up to its tube voltage (a few have no counts left
    or go beyond the scatterer's tables), and mostly usable angles and
    lengths; the rest the programs refuse."""
    k = width(rng) if rng.random() < 0.2 else rng.randint(50, 500)
    kv = rng.randint(6, 150)
    top = min(1024, int(kv * 1000 / k))
    height = rng.choice([10, 1000, 100000, 999999])
    counts = [min(999999, int(height * 4 * (i / top) * (1 - i / top) * rng.uniform(0.8, 1.2))) if i < top else 0
              for i in range(1024)]
    return dict(
        counts=counts, kv=kv, k=k,
        comments=(text(rng, 60), text(rng, 60)),
        header=[text(rng, 60) for _ in range(17)],
        angle=rng.randint(0, 999) if rng.random() < 0.1 else rng.choice([rng.randint(1, 180), 90, 120]),
        length_mm=rng.randint(0, 9999) / 10 if rng.random() < 0.1 else rng.choice([0, 10, rng.randint(0, 100)]),
        scatterer=rng.choice(["Carbon", "PMMA"]),
    )


def test_convert_is_tvconv_on_random_cases(tmp_path, run_tvconv, data_dir):
    rng = random.Random(20)
    done = 0
    for n in range(30):
        case = conv_case(rng)
        stripped = tarvik.Spectrum(np.array(case["counts"], dtype=float), case["k"] / 1000, kind="stripped",
                                   kv=case["kv"], comments=case["comments"], header=case["header"])
        # The .mca1 the conversion dialog reads, as the module writes it.
        tarvik.write(stripped, tmp_path / f"{n}.mca1")
        mca1 = (tmp_path / f"{n}.mca1").read_bytes().split(CRLF := b"\r\n")
        temp = lines([b"Tarvik_data\\r.mca2", b"%03d" % case["angle"], b"%05.2f" % (case["length_mm"] * 0.1),
                      case["scatterer"].encode() + b".dat", b"%d" % case["kv"],
                      b"%d.%03d" % (case["k"] // 1000, case["k"] % 1000)]) + count_block(case["counts"])
        # Com.dat: the comment boxes (the file's own comments) and lines 3 to 22.
        com = lines([sjis(c) for c in case["comments"]] + mca1[2:22])
        run_tvconv(tmp_path / f"tvconv{n}", temp, com)
        expected = tmp_path / f"tvconv{n}" / "Tarvik_data" / "r.mca2"
        try:
            result = tarvik.convert(stripped, case["angle"], case["length_mm"],
                                    scatterer=data_dir / f"{case['scatterer']}.dat")
        except tarvik.Error as e:
            assert not expected.exists(), f"case {n}: tvconv wrote a result, the module refused: {e}"
            continue
        assert expected.exists(), f"case {n}: the module converted what tvconv refused"
        tarvik.write(result, tmp_path / f"{n}.mca2")
        assert (tmp_path / f"{n}.mca2").read_bytes() == expected.read_bytes(), f"case {n}"
        done += 1
    assert done >= 15


def test_demo_chain_is_the_command_line(tmp_path, tarvik_cli, demo_dir, data_dir):
    """The demo spectrum behind PMMA at 90 degrees: `tarvik strip` and
    `tarvik convert` against the module, both methods."""
    source = demo_dir / "W80kV_2.5mmAl_PMMA90deg.csv"
    (tmp_path / "in.csv").write_bytes(source.read_bytes())
    measured = tarvik.read(tmp_path / "in.csv")
    for method in ("standard", "unfold"):
        out = tmp_path / method
        out.mkdir()
        cli = [str(tarvik_cli)]
        subprocess.run(cli + ["strip", "--kv", "80", "--kev-per-channel", "0.1", "--method", method,
                              "--outdir", str(out), str(tmp_path / "in.csv")], check=True, capture_output=True,
                       cwd=data_dir)
        subprocess.run(cli + ["convert", "--angle", "90", "--length-mm", "10", "--scatterer", "PMMA",
                              "--method", method, str(out / "in.mca1")], check=True, capture_output=True,
                       cwd=data_dir)
        stripped = tarvik.strip(measured, 80, 0.1, method=method)
        converted = tarvik.convert(stripped, 90, 10, scatterer="PMMA", method=method)
        tarvik.write(stripped, out / "module.mca1")
        tarvik.write(converted, out / "module.mca2")
        assert (out / "module.mca1").read_bytes() == (out / "in.mca1").read_bytes()
        # The conversion's comments are the stripping result's own, as the dialog proposes.
        assert (out / "module.mca2").read_bytes() == (out / "in.mca2").read_bytes()


@pytest.mark.parametrize("name, width_args", [
    ("W80kV_2.5mmAl_direct.csv", ["--kev-per-channel", "0.1"]),
    ("W80kV_2.5mmAl_PMMA90deg.csv", ["--kev-per-channel", "0.1"]),
])
def test_quality_is_tarvik_quality_json(name, width_args, tarvik_cli, demo_dir, tmp_path):
    path = str(demo_dir / name)
    line = subprocess.run([str(tarvik_cli), "quality", "--json", "--resamples", "20", "--seed", "7", *width_args,
                           path], check=True, capture_output=True, text=True).stdout.strip()
    q = tarvik.quality(tarvik.read(path), kev_per_channel=0.1, resamples=20, seed=7)
    assert q.to_json() == line
    record = json.loads(line)
    assert list(record) == list(tarvik.Quality.KEYS) == list(q.as_dict())
    for key, value in record.items():
        got = getattr(q, key)
        if value is None:
            assert np.isnan(got), key
        else:
            assert got == value or got == pytest.approx(value, rel=1e-9), key
    # A stripping result read back from its file.
    stripped = tarvik.strip(tarvik.read(path), 80, 0.1)
    tarvik.write(stripped, tmp_path / "s.mca1")
    line = subprocess.run([str(tarvik_cli), "quality", "--json", "--resamples", "0", str(tmp_path / "s.mca1")],
                          check=True, capture_output=True, text=True).stdout.strip()
    assert tarvik.quality(tarvik.read(tmp_path / "s.mca1"), resamples=0).to_json() == line
