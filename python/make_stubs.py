"""Writes tarvik/_core.pyi from its template and the built module: one
property of Quality per key of the `tarvik quality --json` record, one of
Characterization per key of characterization.json.

    make_stubs.py TEMPLATE OUTPUT   (the built package importable)
"""
import os
import sys

# The package in the sources beside this script is not the built one.
here = os.path.dirname(os.path.abspath(__file__))
sys.path = [p for p in sys.path if os.path.abspath(p or ".") != here]

import tarvik._core as core  # noqa: E402


def quality_attributes():
    lines = []
    for key in core.Quality.KEYS:
        kind = "str" if key == "file" else "float"
        doc = getattr(core.Quality, key).__doc__ or ""
        lines.append("    @property")
        lines.append(f"    def {key}(self) -> {kind}:")
        lines.append(f"        {doc.strip()!r}")
        lines.append("        ...")
    return "\n".join(lines)


def characterization_attributes():
    lines = []
    kinds = {"int": "int", "float": "float", "str": "str", "list": "list[Any]"}
    for key in core.Characterization.KEYS:
        doc = getattr(core.Characterization, key).__doc__ or ""
        lines.append("    @property")
        lines.append(f"    def {key}(self) -> {kinds[core.Characterization._KINDS[key]]}:")
        lines.append(f"        {doc.strip()!r}")
        lines.append("        ...")
    return "\n".join(lines)


def main():
    template, output = sys.argv[1:3]
    with open(template, encoding="utf-8") as f:
        text = f.read()
    text = text.replace("@QUALITY_ATTRIBUTES@", quality_attributes())
    text = text.replace("@CHARACTERIZATION_ATTRIBUTES@", characterization_attributes())
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
