"""tarvik.characterize against `tarvik characterize`: calibration spectra of a
simulated detector other than the shipped one (`tvgen --source-spectra`,
detector A of the characterization's recovery check: 0.1508 keV per channel
from -0.23 keV, mu-tau 1.5e-3 / 2e-4 cm2/V at 400 V), characterized by the
command and by the module with the same settings: the same folder, the
attributes the keys of its characterization.json; what it refuses."""
import json
import os
import subprocess

import pytest

import tarvik

SETTINGS = ["--kev-per-channel", "0.15", "--bias", "400", "--threads", "2", "--photons-per-node", "1000"]


@pytest.fixture(scope="module")
def sources(tmp_path_factory, tarvik_cli):
    folder = tmp_path_factory.mktemp("sources")
    tvgen = os.environ.get("TARVIK_TVGEN") or str(tarvik_cli.parents[1] / "generator" / "tvgen")
    if not os.path.exists(tvgen):
        pytest.skip("no tvgen in this build to simulate the calibration spectra")
    subprocess.run([tvgen, "--source-spectra", "--count-scale", "0.5", "--threads", "2", "--out", str(folder)],
                   check=True, capture_output=True)
    return folder


def test_the_module_characterizes_as_the_command(sources, tmp_path, tarvik_cli, data_dir):
    am, co = str(sources / "241Am.csv"), str(sources / "57Co.csv")
    subprocess.run([str(tarvik_cli), "characterize", "--source", "241Am", am, "--source", "57Co", co, *SETTINGS,
                    "--out", str(tmp_path / "command")], check=True, capture_output=True, cwd=data_dir)
    # One source as a file, one as a Spectrum read from it.
    c = tarvik.characterize([("241Am", am), ("57Co", tarvik.read(co))], kev_per_channel=0.15,
                            out=tmp_path / "module", bias_v=400, threads=2, photons_per_node=1000,
                            res=data_dir / "RES")
    for name in ("characterization.json", "characterization.txt", "RES/detector.txt", "RES/unfold.rsp"):
        assert (tmp_path / "module" / name).read_bytes() == (tmp_path / "command" / name).read_bytes(), name
    record = json.loads((tmp_path / "command" / "characterization.json").read_text())
    assert list(record) == list(tarvik.Characterization.KEYS) == list(c.as_dict())
    for key, value in record.items():
        assert getattr(c, key) == value or (value is None and getattr(c, key) != getattr(c, key)), key
    assert c.to_json() == (tmp_path / "command" / "characterization.json").read_text()
    assert str(c) == (tmp_path / "module" / "characterization.txt").read_text()
    assert c.res == tmp_path / "module" / "RES"
    # The detector the spectra were simulated with, within the uncertainties.
    assert abs(c.kev_per_channel - 0.1508) < 4 * c.kev_per_channel_u + 2e-4
    assert abs(c.offset_keV + 0.23) < 4 * c.offset_keV_u + 0.05
    assert abs(c.mutau_holes_cm2_per_V / 2e-4 - 1) < 0.3
    assert c.sources[1]["file"] == co and c.bias_V == 400
    # The fitted detector's RES is a RES for strip(res=...): its standard
    # tables are the shipped ones (same crystal and window), copied.
    measured = tarvik.read(data_dir / "Tarvik_data" / "W80kV_2.5mmAl_direct.csv")
    assert (tarvik.strip(measured, 80, 0.1, res=c.res).counts == tarvik.strip(measured, 80, 0.1).counts).all()


def test_what_it_refuses(sources, tmp_path):
    am = sources / "241Am.csv"
    with pytest.raises(tarvik.InputError, match=r"source 1 is a pair \(nuclide, file or Spectrum\)"):
        tarvik.characterize([str(am)], 0.15)
    with pytest.raises(tarvik.InputError, match=r"sources is a list of \(nuclide, file or Spectrum\) pairs"):
        tarvik.characterize("241Am", 0.15)
    with pytest.raises(tarvik.InputError, match="no source"):
        tarvik.characterize([], 0.15)
    with pytest.raises(tarvik.Error, match=r"a .csv carries no keV per channel: give kev_per_channel"):
        tarvik.characterize([("241Am", am)])
    short = tarvik.Spectrum(tarvik.read(am).counts[:512], 0.15)
    with pytest.raises(tarvik.InputError, match="has 512 channels; the characterization works on the analyser's 1024"):
        tarvik.characterize([("241Am", short)])
    (tmp_path / "there").mkdir()
    with pytest.raises(tarvik.Error, match="exists"):
        tarvik.characterize([("241Am", am)], 0.15, out=tmp_path / "there")
    # A spectrum the nuclide does not describe: the fit's own refusal, nothing written.
    with pytest.raises(tarvik.Error):
        tarvik.characterize([("57Co", am)], 0.15, out=tmp_path / "wrong", threads=2, events_per_count=1)
    assert not (tmp_path / "wrong").exists()
