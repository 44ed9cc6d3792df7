"""The module's objects as a script uses them: files read and written again
unchanged, the Spectrum's fields and arrays, the Quality record, the work
done outside the interpreter lock, the documentation."""
import pathlib
import pydoc
import sys
import threading
import time

import numpy as np
import pytest

import tarvik


def test_result_files_read_and_written_again_are_unchanged(tmp_path, demo_dir):
    """A .mca1 and a .mca2 of the programs' layout, with Japanese comments:
    read, written, the same bytes; every field as the file says."""
    measured = tarvik.read(demo_dir / "W80kV_2.5mmAl_PMMA90deg.csv")
    assert (measured.kind, measured.format, measured.kev_per_channel, measured.kv) == ("measured", "csv", None, None)
    assert len(measured.header) == 31 and measured.header[0].startswith("Simulated spectrum")
    stripped = tarvik.strip(measured, 80, 0.1, comments=("ＰＭＭＡ 90° 散乱線", "管電流 2 mA"))
    converted = tarvik.convert(stripped, 90, 10)
    for spectrum, name in ((stripped, "a.mca1"), (converted, "a.mca2")):
        tarvik.write(spectrum, tmp_path / name)
        again = tarvik.read(tmp_path / name)
        assert again.path == str(tmp_path / name)
        assert (again.kind, again.kv, again.kev_per_channel) == (spectrum.kind, 80.0, 0.1)
        assert again.comments == ("ＰＭＭＡ 90° 散乱線", "管電流 2 mA")
        assert again.header == measured.header[:17]
        assert np.array_equal(again.counts, spectrum.counts)
        tarvik.write(again, tmp_path / ("b" + name[1:]))
        assert (tmp_path / ("b" + name[1:])).read_bytes() == (tmp_path / name).read_bytes()
    assert converted.kind == "converted" and converted.counts.sum() > 0


def test_counts_are_shared_not_copied_where_they_can_be(demo_dir):
    counts = np.zeros(1024)
    s = tarvik.Spectrum(counts, 0.1)
    assert np.shares_memory(s.counts, counts) and s.counts is s.counts
    counts[5] = 7  # the spectrum sees it
    assert s.counts[5] == 7
    # Integers and lists are converted once; the copy is the spectrum's own.
    ints = np.arange(1024)
    t = tarvik.Spectrum(ints, 0.1)
    assert t.counts.dtype == np.float64 and not np.shares_memory(t.counts, ints)
    assert tarvik.Spectrum([1, 2, 3]).counts.tolist() == [1.0, 2.0, 3.0]
    # Results own their counts; copy() gives counts of its own.
    r = tarvik.read(demo_dir / "W80kV_2.5mmAl_direct.csv")
    c = r.copy()
    c.counts[0] = -1
    assert r.counts[0] != -1 and c.header == r.header
    # A strided view is taken as a contiguous copy.
    wide = np.zeros(2048)
    assert not np.shares_memory(tarvik.Spectrum(wide[::2]).counts, wide)


def test_strip_takes_plain_counts_like_a_spectrum(demo_dir):
    measured = tarvik.read(demo_dir / "W80kV_2.5mmAl_direct.csv")
    from_array = tarvik.strip(measured.counts, 80, 0.1)
    from_list = tarvik.strip(measured.counts.astype(int).tolist(), 80, 0.1)
    from_spectrum = tarvik.strip(measured, 80, kev_per_channel=0.1)
    assert np.array_equal(from_array.counts, from_list.counts)
    # Header lines go into the result's header, not into the counts.
    assert np.array_equal(from_array.counts, from_spectrum.counts)
    assert from_array.header == [""] * 17 and from_spectrum.header == measured.header[:17]
    # As the stripping program: nothing up to 10 keV and above the tube voltage.
    c = from_array.counts
    assert c[:100].sum() == 0 and c[803:].sum() == 0 and c.sum() > 0
    # A fraction is rounded as the dialog writes the count.
    frac = measured.counts + 0.3
    assert np.array_equal(tarvik.strip(frac, 80, 0.1).counts, from_array.counts)


def test_spectrum_fields(tmp_path):
    s = tarvik.Spectrum(np.ones(4), 0.5, offset_kev=1.0, kind="stripped", kv=60, comments=("a", "b"),
                        header=["x"], live_time=10.0, real_time=12.5)
    assert (s.kev_per_channel, s.offset_kev, s.kind, s.kv, s.live_time, s.real_time, s.path, s.format) == \
        (0.5, 1.0, "stripped", 60.0, 10.0, 12.5, None, "")
    assert s.comments == ("a", "b") and s.header == ["x"] and len(s) == 4
    assert s.energies_kev.tolist() == [1.25, 1.75, 2.25, 2.75]
    s.kind = "converted"
    s.counts = [5, 6]
    assert s.counts.tolist() == [5.0, 6.0] and s.kind == "converted"
    assert "2 channels" in repr(s)


def test_quality_record_keys_and_values(demo_dir):
    stripped = tarvik.strip(tarvik.read(demo_dir / "W80kV_2.5mmAl_direct.csv"), 80, 0.1)
    q = tarvik.quality(stripped, resamples=0)
    assert tarvik.Quality.KEYS[:3] == ("file", "kev_per_channel", "total")
    assert all(k + "_u" in tarvik.Quality.KEYS for k in ("mean_energy_keV", "hvl1_al_mm", "end_point_keV"))
    assert q.total == stripped.counts.sum() and q.kev_per_channel == 0.1
    assert np.isnan(q.hvl1_al_mm_u) and q.resamples_used == 0
    assert q["hvl1_al_mm"] == q.hvl1_al_mm and q.as_dict()["mean_energy_keV"] == q.mean_energy_keV
    # The demo's truth: W anode 80 kV, 2.5 mm Al (the stripping is known to be a little off).
    assert 35 < q.mean_energy_keV < 50 and 2.0 < q.hvl1_al_mm < 3.5
    assert "HVL1 Al" in str(q)
    with pytest.raises(KeyError):
        q["no such key"]
    # Any number of channels from 0 keV.
    assert tarvik.quality(stripped.counts[:900], 0.1, resamples=0).total == q.total
    # Resamples are repeatable with the seed.
    a, b = (tarvik.quality(stripped, resamples=10, seed=3) for _ in range(2))
    assert a.to_json() == b.to_json() and a.resamples_used == 10 and a.hvl1_al_mm_u > 0


def test_the_work_runs_without_the_interpreter_lock(demo_dir):
    """While one thread computes figures with many resamples, the main thread
    keeps running Python.  The switch interval is set beyond the length of
    the work, so a call that held the lock would let the main thread run
    only after the worker had finished (no step counted); sleep() hands the
    lock back at once when the work has ended."""
    stripped = tarvik.strip(tarvik.read(demo_dir / "W80kV_2.5mmAl_direct.csv"), 80, 0.1)
    started, done, results = threading.Event(), threading.Event(), []

    def work():
        started.set()
        results.append(tarvik.quality(stripped, resamples=400))
        done.set()

    interval = sys.getswitchinterval()
    sys.setswitchinterval(5.0)
    try:
        worker = threading.Thread(target=work)
        steps = 0
        worker.start()
        started.wait()
        while not done.is_set():
            steps += 1
            time.sleep(0.001)
        worker.join()
    finally:
        sys.setswitchinterval(interval)
    assert results and results[0].resamples_used == 400
    assert steps > 3, f"{steps} steps of the main thread while the work ran"
    # Threads side by side give the results of one after the other.
    measured = tarvik.read(demo_dir / "W80kV_2.5mmAl_PMMA90deg.csv")
    alone = tarvik.strip(measured, 80, 0.1).counts
    out = [None] * 4
    threads = [threading.Thread(target=lambda i=i: out.__setitem__(i, tarvik.strip(measured, 80, 0.1).counts))
               for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(np.array_equal(o, alone) for o in out)


def test_help_and_stubs_describe_the_api():
    text = pydoc.render_doc(tarvik, renderer=pydoc.plaintext)
    for words in ("stripping correction", "tvstrip", "kev_per_channel", "Quality", "mean_energy_keV",
                  "half-value layers", "tarvik.Error"):
        assert words in text, words
    # Signatures in a script's terms, not the binding's.
    assert "strip(spectrum: tarvik.Spectrum | numpy.typing.ArrayLike, kv: float" in text
    assert ": handle" not in text and ": object" not in text and "tarvik._core.Spectrum" not in text
    stubs = (pathlib.Path(tarvik._core.__file__).parent / "_core.pyi").read_text(encoding="utf-8")
    for key in tarvik.Quality.KEYS:
        assert f"def {key}(self)" in stubs
    for name in tarvik.__all__:
        assert f"def {name}(" in stubs or f"class {name}" in stubs, name
    assert (pathlib.Path(tarvik.__file__).parent / "py.typed").exists()
