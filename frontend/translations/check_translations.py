#!/usr/bin/env python3
"""Checks that every text the front end translates has a finished English
translation in the .ts files that ship.

lupdate reads the sources into a scratch copy of each .ts file, with the
options of the update_translations target; a text it adds, or one left
unfinished, empty or with other placeholders (%1, %2, ...) than its source,
fails the check with its context and source.  Nothing in the source tree
is changed.

Usage: check_translations.py LUPDATE SOURCES_LIST TS... [-- LUPDATE_OPTIONS...]
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET


def placeholders(text):
    return sorted(set(re.findall(r"%[1-9]", text or "")))


def problems_of(ts_path):
    found = []
    root = ET.parse(ts_path).getroot()
    for context in root.iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            source = message.findtext("source") or ""
            translation = message.find("translation")
            kind = translation.get("type") if translation is not None else "missing"
            if kind in ("obsolete", "vanished"):
                continue
            text = translation.text if translation is not None else None
            where = f"{name}: {source!r}"
            if kind == "unfinished" or not text:
                found.append(f"not translated: {where}")
            elif placeholders(text) != placeholders(source):
                found.append(f"placeholders {placeholders(text)} for {placeholders(source)}: {where}")
    return found


def main(argv):
    if "--" in argv:
        cut = argv.index("--")
        argv, options = argv[:cut], argv[cut + 1:]
    else:
        options = []
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    lupdate, sources_list, ts_files = argv[1], argv[2], argv[3:]
    with open(sources_list, encoding="utf-8") as f:
        sources = [line.strip() for line in f if line.strip()]
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        for ts in ts_files:
            copy = os.path.join(scratch, os.path.basename(ts))
            shutil.copyfile(ts, copy)
            run = subprocess.run([lupdate, *options, *sources, "-ts", copy],
                                 capture_output=True, text=True)
            if run.returncode != 0:
                failures.append(f"lupdate failed on {ts}:\n{run.stdout}{run.stderr}")
                continue
            failures += [f"{os.path.basename(ts)}: {p}" for p in problems_of(copy)]
            count = sum(1 for _ in ET.parse(copy).getroot().iter("message"))
            print(f"{os.path.basename(ts)}: {count} texts from {len(sources)} source files")
    for f in failures:
        print(f, file=sys.stderr)
    if failures:
        print(f"{len(failures)} text(s) without a finished translation; run "
              "`cmake --build build --target update_translations` and translate them "
              "(frontend/README.md)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
