"""What the module refuses: every wrong input gives a Python exception with a
message, never a crash of the interpreter; where the programs or `tarvik`
refuse the same thing, with their message."""
import subprocess

import numpy as np
import pytest

import tarvik


@pytest.fixture(scope="module")
def measured(demo_dir):
    return tarvik.read(demo_dir / "W80kV_2.5mmAl_direct.csv")


@pytest.fixture(scope="module")
def stripped(measured):
    return tarvik.strip(measured, 80, 0.1)


def refused(exc, match, call, *args, **kwargs):
    with pytest.raises(exc, match=match) as info:
        call(*args, **kwargs)
    assert str(info.value)
    return str(info.value)


def test_wrong_types_and_shapes(measured, stripped):
    refused(TypeError, "", tarvik.strip, measured, "80", 0.1)
    refused(TypeError, "", tarvik.convert, measured.counts, 90, 10)
    refused(TypeError, "", tarvik.quality, stripped, resamples="many")
    refused(ValueError, "", tarvik.Spectrum, ["a", "b"])
    refused(tarvik.InputError, r"one-dimensional array\), not an array of shape \(2, 512\)",
            tarvik.strip, measured.counts.reshape(2, 512), 80, 0.1)
    refused(tarvik.InputError, "at least one channel", tarvik.Spectrum, [])
    refused(tarvik.InputError, "more than the 65536", tarvik.quality, np.ones(70000), 0.1)
    refused(tarvik.InputError, "the stripping needs 1024 channels, the spectrum has 1000",
            tarvik.strip, measured.counts[:1000], 80, 0.1)
    short = tarvik.Spectrum(stripped.counts[:512], 0.1, kind="stripped")
    refused(tarvik.InputError, "the conversion needs 1024 channels, the spectrum has 512", tarvik.convert, short, 90, 10)
    refused(tarvik.InputError, "a result file needs 1024 channels", tarvik.write, short, "x.mca1")
    # A list of numbers is counts; anything else is no spectrum.
    refused(TypeError, "", tarvik.quality, object(), 0.1)


@pytest.mark.parametrize("value, words", [(np.nan, "channel 200 holds nan: counts must be numbers"),
                                          (np.inf, "channel 200 holds inf: counts must be numbers"),
                                          (-0.25, "channel 200 holds -0.25: counts must not be negative")])
def test_counts_that_are_no_counts(measured, stripped, value, words):
    bad = measured.counts.copy()
    bad[199] = value
    refused(tarvik.InputError, words, tarvik.strip, bad, 80, 0.1)
    out = stripped.copy()
    out.counts[199] = value
    refused(tarvik.InputError, words, tarvik.convert, out, 90, 10)
    refused(tarvik.InputError, words, tarvik.write, out, "x.mca1")
    if not np.isfinite(value):
        refused(tarvik.Error, "channel 200 holds no number", tarvik.quality, out)


def test_the_programs_refusals_keep_their_messages(measured, stripped, tmp_path, tarvik_cli, data_dir):
    """Counts beyond the exchange file, a voltage out of range: the same
    message as `tarvik strip` gives for a .csv with them."""
    text = tmp_path / "in.csv"
    lines = ["header"] * 31 + [f"{i},{i * 0.1:.1f},{int(c)}" for i, c in enumerate(measured.counts, 1)]
    lines[31 + 9] = "10,1.0,1234567"
    text.write_text("\r\n".join(lines) + "\r\n")
    cli = subprocess.run([str(tarvik_cli), "strip", "--kv", "80", "--kev-per-channel", "0.1", "--outdir",
                          str(tmp_path), str(text)], capture_output=True, text=True, cwd=data_dir)
    assert cli.returncode == 1
    message = refused(tarvik.Error, "", tarvik.strip, tarvik.read(text), 80, 0.1)
    assert message.split("\n")[0] in cli.stderr
    assert "1234567" in message and "0 ～ 999999" in message
    # The dialog's range of the voltage and the width.
    message = refused(tarvik.Error, "kV", tarvik.strip, measured, 1000, 0.1)
    cli = subprocess.run([str(tarvik_cli), "strip", "--kv", "1000", "--kev-per-channel", "0.1", "--outdir",
                          str(tmp_path), str(text)], capture_output=True, text=True, cwd=data_dir)
    assert message in cli.stderr
    refused(tarvik.Error, "keV", tarvik.strip, measured, 80, 0.0001)
    refused(tarvik.InputError, "the tube voltage must be a number, not nan", tarvik.strip, measured, float("nan"), 0.1)
    # The conversion program's checks of its input.
    refused(tarvik.Error, "a scattering angle of 0 degrees cannot be converted", tarvik.convert, stripped, 0, 10)


def test_missing_data(measured, stripped, tmp_path):
    missing = tmp_path / "nothing"
    refused(tarvik.Error, f"the folder of the detector response tables {missing} is missing",
            tarvik.strip, measured, 80, 0.1, res=missing)
    refused(tarvik.Error, "is missing", tarvik.strip, measured, 80, 0.1, method="unfold", res=missing)
    # A folder with some tables but not those the spectrum needs.
    partial = tmp_path / "RES"
    partial.mkdir()
    refused(tarvik.Error, "is missing from", tarvik.strip, measured, 80, 0.1, res=partial)
    refused(tarvik.Error, "the scatterer Water cannot be used", tarvik.convert, stripped, 90, 10, scatterer="Water")
    # A scatterer file without its Compton profile: the standard method works, unfold says why not.
    alone = tmp_path / "PMMA.dat"
    alone.write_bytes((tarvik.data_folder() / "PMMA.dat").read_bytes())
    assert tarvik.convert(stripped, 90, 10, scatterer=alone).counts.sum() > 0
    refused(tarvik.Error, "profile", tarvik.convert, stripped, 90, 10, scatterer=alone, method="unfold")
    refused(tarvik.Error, "データファイルを開けません", tarvik.read, tmp_path / "none.csv")
    refused(tarvik.Error, f"{tmp_path / 'x.txt'}: no such file", tarvik.read, tmp_path / "x.txt")
    (tmp_path / "notes.txt").write_text("a letter\nnot a spectrum\n")
    refused(tarvik.Error, f"{tmp_path / 'notes.txt'}: ", tarvik.read, tmp_path / "notes.txt")


def test_wrong_words_kinds_and_widths(measured, stripped, tmp_path):
    refused(tarvik.InputError, 'the method is "standard" or "unfold", not "fast"', tarvik.strip, measured, 80, 0.1,
            method="fast")
    refused(tarvik.InputError, '"measured", "stripped" or "converted", not "raw"', tarvik.Spectrum, [1], kind="raw")
    refused(tarvik.InputError, "the stripping takes a measured spectrum, this one is stripped",
            tarvik.strip, stripped, 80, 0.1)
    refused(tarvik.InputError, "the conversion takes a stripped spectrum, this one is measured",
            tarvik.convert, measured, 90, 10)
    refused(tarvik.InputError, r"carries no keV per channel \(a .csv has none\)", tarvik.strip, measured, 80)
    refused(tarvik.InputError, r"carries no keV per channel", tarvik.quality, measured)
    refused(tarvik.InputError, "the spectrum says 0.1 keV per channel, kev_per_channel 0.2",
            tarvik.quality, stripped, 0.2)
    refused(tarvik.InputError, "channels from 0 keV", tarvik.quality, tarvik.Spectrum(np.ones(10), 1.0, offset_kev=2))
    refused(tarvik.InputError, "kev_per_channel must be a number above 0", tarvik.Spectrum, [1], -1.0)
    refused(tarvik.InputError, "resamples must not be negative", tarvik.quality, stripped, resamples=-1)
    refused(tarvik.InputError, "cannot hold", tarvik.Spectrum, [1], comments=("\U0001F600", ""))
    refused(tarvik.InputError, "whole counts", tarvik.write, tarvik.Spectrum(stripped.counts + 0.5, 0.1,
                                                                              kind="stripped"), tmp_path / "h.mca1")
    refused(tarvik.InputError, r"not written as \.mca2", tarvik.write, stripped, tmp_path / "x.mca2")
    refused(tarvik.InputError, r"\.mca1 \(stripped\) or \.mca2", tarvik.write, stripped, tmp_path / "x.txt")
    tarvik.write(stripped, tmp_path / "s.mca1")
    refused(tarvik.Error, r"exists \(overwrite=True replaces it\)", tarvik.write, stripped, tmp_path / "s.mca1")
    tarvik.write(stripped, tmp_path / "s.mca1", overwrite=True)
    refused(tarvik.Error, "does not exist", tarvik.write, stripped, tmp_path / "no" / "s.mca1")
    refused(tarvik.Error, "no counts", tarvik.quality, np.zeros(1024), 0.1)


def test_errors_are_one_family():
    assert issubclass(tarvik.InputError, tarvik.Error) and issubclass(tarvik.InputError, ValueError)
    assert issubclass(tarvik.Error, Exception) and not issubclass(tarvik.Error, ValueError)
