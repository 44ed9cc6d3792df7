"""Shared fixtures of the module's tests: the built programs and the shipped
data (from the environment CTest sets, else found beside the built module),
and running tvstrip / tvconv in a folder of their own as the front end does."""
import os
import pathlib
import subprocess

import pytest

import tarvik

# A sanitizer build preloads the sanitizer's shared run-time library into
# this interpreter (the module needs it); the programs the tests start carry
# their own, and two run-time libraries in one process refuse to run.
os.environ.pop("LD_PRELOAD", None)

CRLF = b"\r\n"


def _build_dir():
    # <build>/python/tarvik/_core...so
    return pathlib.Path(tarvik._core.__file__).resolve().parents[2]


def _source_dir():
    return pathlib.Path(__file__).resolve().parents[2]


def _program(env, *parts):
    value = os.environ.get(env)
    return pathlib.Path(value) if value else _build_dir().joinpath(*parts)


@pytest.fixture(scope="session")
def tvstrip():
    return _program("TARVIK_TVSTRIP", "strip", "tvstrip")


@pytest.fixture(scope="session")
def tvconv():
    return _program("TARVIK_TVCONV", "conv", "tvconv")


@pytest.fixture(scope="session")
def tarvik_cli():
    return _program("TARVIK_CLI", "tarvik", "tarvik")


@pytest.fixture(scope="session")
def data_dir():
    return pathlib.Path(os.environ.get("TARVIK_DATA") or _source_dir() / "data")


@pytest.fixture(scope="session")
def examples_dir():
    return pathlib.Path(os.environ.get("TARVIK_EXAMPLES") or _source_dir() / "examples")


@pytest.fixture(scope="session")
def demo_dir(data_dir):
    return data_dir / "Tarvik_data"


def lines(items):
    return b"".join(line + CRLF for line in items)


def count_block(values):
    out = b""
    for i, c in enumerate(values, start=1):
        out += b" %06d" % c
        if i % 10 == 0 or i == len(values):
            out += CRLF
    return out


def run_program(program, folder, files, data_dir):
    """Runs a console program in `folder` (made here) with its exchange
    files, RES and the scatterer files of the data, Enter answered; returns
    the completed process."""
    folder.mkdir(parents=True)
    (folder / "Tarvik_data").mkdir()
    (folder / "RES").symlink_to(data_dir / "RES")
    for name in ("Carbon.dat", "PMMA.dat"):
        (folder / name).symlink_to(data_dir / name)
    for name, content in files.items():
        (folder / name).write_bytes(content)
    return subprocess.run([str(program)], cwd=folder, input=b"\n\n", capture_output=True, timeout=60)


@pytest.fixture
def run_tvstrip(tvstrip, data_dir):
    def run(folder, tempfile, comtxt):
        return run_program(tvstrip, folder, {"TempFile.dat": tempfile, "Com.txt": comtxt}, data_dir)
    return run


@pytest.fixture
def run_tvconv(tvconv, data_dir):
    def run(folder, tempfile2, comdat):
        return run_program(tvconv, folder, {"TempFile2.dat": tempfile2, "Com.dat": comdat}, data_dir)
    return run
