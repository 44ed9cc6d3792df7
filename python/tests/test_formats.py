"""Files of analysers' software (here a <<PMCA SPECTRUM>> .mca written by the
test) through the module against `tarvik` on the same file: the record
read, the stripping (the file's own calibration, a width given, a rebinning)
and the beam-quality figures."""
import subprocess

import numpy as np
import pytest

import tarvik


def pmca(counts, gain_kev, offset_kev=0.0, live=98.5, real=100.0):
    """A <<PMCA SPECTRUM>> file calibrated at channel centres by two points."""
    lines = ["<<PMCA SPECTRUM>>", "TAG - demo through an MCA", "DESCRIPTION - written by the test",
             f"LIVE_TIME - {live:.6f}", f"REAL_TIME - {real:.6f}", "START_TIME - 05/01/2024 10:20:30",
             "<<CALIBRATION>>", "LABEL - Energy (keV)"]
    for ch in (100, 900):
        lines.append(f"{ch} {offset_kev + gain_kev * (ch + 0.5):.6f}")
    lines.append("<<DATA>>")
    lines += [str(int(c)) for c in counts]
    lines.append("<<END>>")
    return ("\r\n".join(lines) + "\r\n").encode()


@pytest.fixture(scope="module")
def demo(demo_dir):
    return tarvik.read(demo_dir / "W80kV_2.5mmAl_direct.csv").counts


def cli(tarvik_cli, data_dir, *args):
    return subprocess.run([str(tarvik_cli), *map(str, args)], capture_output=True, text=True, cwd=data_dir)


def test_an_analysers_file_is_read_with_its_calibration_and_times(tmp_path, demo):
    (tmp_path / "run.mca").write_bytes(pmca(demo, 0.1))
    s = tarvik.read(tmp_path / "run.mca")
    assert (s.kind, s.format, s.name, s.live_time, s.real_time) == ("measured", "mca", "demo through an MCA", 98.5, 100.0)
    assert s.kev_per_channel == pytest.approx(0.1) and s.offset_kev == pytest.approx(0, abs=1e-9)
    assert np.array_equal(s.counts, demo) and s.path == str(tmp_path / "run.mca")
    assert "DESCRIPTION - written by the test" in "\n".join(s.header) or s.header
    assert [x.path for x in tarvik.read_all(tmp_path / "run.mca")] == [s.path]
    # A damaged file: the reader's place and reason.
    (tmp_path / "cut.mca").write_bytes(pmca(demo, 0.1).replace(b"<<END>>\r\n", b""))
    with pytest.raises(tarvik.Error, match="<<END>>"):
        tarvik.read(tmp_path / "cut.mca")
    with pytest.raises(tarvik.InputError, match='not "xls"'):
        tarvik.read(tmp_path / "run.mca", format="xls")


def test_stripping_and_figures_are_the_command_lines(tmp_path, demo, tarvik_cli, data_dir):
    (tmp_path / "run.mca").write_bytes(pmca(demo, 0.1))
    s = tarvik.read(tmp_path / "run.mca")
    # The file's own calibration (0.1 keV from 0 keV).
    out = tmp_path / "own"
    out.mkdir()
    assert cli(tarvik_cli, data_dir, "strip", "--kv", 80, "--outdir", out, tmp_path / "run.mca").returncode == 0
    tarvik.write(tarvik.strip(s, 80), tmp_path / "own.mca1")
    assert (tmp_path / "own.mca1").read_bytes() == (out / "run.mca1").read_bytes()
    # A width given replaces the calibration, as --kev-per-channel does.
    out = tmp_path / "given"
    out.mkdir()
    assert cli(tarvik_cli, data_dir, "strip", "--kv", 80, "--kev-per-channel", 0.12, "--outdir", out,
               tmp_path / "run.mca").returncode == 0
    tarvik.write(tarvik.strip(s, 80, kev_per_channel=0.12), tmp_path / "given.mca1")
    assert (tmp_path / "given.mca1").read_bytes() == (out / "run.mca1").read_bytes()
    changed = s.copy()
    changed.kev_per_channel = 0.12
    assert np.array_equal(tarvik.strip(changed, 80).counts, tarvik.read(out / "run.mca1").counts)
    # Figures on the file's channels.
    line = cli(tarvik_cli, data_dir, "quality", "--json", "--resamples", 10, "--seed", 2, tmp_path / "run.mca").stdout
    assert tarvik.quality(s, resamples=10, seed=2).to_json() == line.strip()


def test_other_channel_counts_are_rebinned_as_the_command_line_does(tmp_path, demo, tarvik_cli, data_dir):
    # 2048 channels of 0.05 keV starting at 0.3 keV.
    fine = np.repeat(demo, 2) // 2
    (tmp_path / "fine.mca").write_bytes(pmca(fine, 0.05, offset_kev=0.3))
    s = tarvik.read(tmp_path / "fine.mca")
    assert len(s) == 2048 and s.offset_kev == pytest.approx(0.3)
    with pytest.raises(tarvik.Error, match="2048 channels; the stripping takes 1024"):
        tarvik.strip(s, 80)
    out = tmp_path / "out"
    out.mkdir()
    assert cli(tarvik_cli, data_dir, "strip", "--kv", 80, "--rebin-kev-per-channel", 0.1, "--outdir", out,
               tmp_path / "fine.mca").returncode == 0
    tarvik.write(tarvik.strip(s, 80, rebin_kev_per_channel=0.1), tmp_path / "fine.mca1")
    assert (tmp_path / "fine.mca1").read_bytes() == (out / "fine.mca1").read_bytes()
    # The figures of a spectrum that does not start at 0 keV, on channels from 0 keV.
    line = cli(tarvik_cli, data_dir, "quality", "--json", "--resamples", 0, tmp_path / "fine.mca").stdout
    assert tarvik.quality(s, resamples=0).to_json() == line.strip()
    # Counts that a file of the format cannot hold.
    bad = s.copy()
    bad.counts[7] = 2.5
    with pytest.raises(tarvik.InputError, match="channel 8 holds 2.5"):
        tarvik.quality(bad)


def test_rates_are_the_command_lines(tmp_path, demo, tarvik_cli, data_dir):
    """A file with its live and real time: the measurement's keys of the
    record (times, dead time, rates with an area and mAs) as `tarvik quality
    --json` gives them, also for its .csv of `tarvik import`."""
    (tmp_path / "run.mca").write_bytes(pmca(demo, 0.1))
    s = tarvik.read(tmp_path / "run.mca")
    line = cli(tarvik_cli, data_dir, "quality", "--json", "--resamples", 10, "--seed", 2, "--aperture-mm2", 12.5,
               "--mas", 20, tmp_path / "run.mca").stdout.strip()
    q = tarvik.quality(s, resamples=10, seed=2, aperture_mm2=12.5, mas=20)
    assert q.to_json() == line
    assert "live_time_s" in tarvik.Quality.KEYS and "air_kerma_per_mAs_uGy_u" in tarvik.Quality.KEYS
    assert (q.live_time_s, q.real_time_s, q.mAs) == (98.5, 100.0, 20.0)
    assert q.dead_time_fraction == pytest.approx(0.015)
    assert q.count_rate_per_s == pytest.approx(q.total / 98.5)
    assert q.air_kerma_rate_uGy_per_s > 0 and "dead time" in str(q).lower()
    # The .csv of `tarvik import` keeps the times in its header.
    assert cli(tarvik_cli, data_dir, "import", "--outdir", tmp_path, tmp_path / "run.mca").returncode == 0
    imported = tarvik.read(tmp_path / "run.csv")
    assert (imported.live_time, imported.real_time) == (98.5, 100.0)
    line = cli(tarvik_cli, data_dir, "quality", "--json", "--resamples", 0, "--kev-per-channel", 0.1,
               tmp_path / "run.csv").stdout.strip()
    assert tarvik.quality(imported, 0.1, resamples=0).to_json() == line
    # Without times the measurement's keys are NaN; a converted spectrum has no rates.
    bare = tarvik.quality(demo, 0.1, resamples=0)
    assert np.isnan(bare.live_time_s) and np.isnan(bare.count_rate_per_s)
    converted = tarvik.convert(tarvik.strip(s, 80, 0.1), 90, 10)
    with pytest.raises(tarvik.InputError, match="a converted spectrum is the primary beam's shape"):
        tarvik.quality(converted, aperture_mm2=12.5)
    assert np.isnan(tarvik.quality(converted, resamples=0).count_rate_per_s)
