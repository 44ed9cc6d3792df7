#!/usr/bin/env python3
"""Runs the commands of the user's guides as a reader would type them.

Every fenced block whose info string is `sh` is run, in the order of the
guide, by one bash with `set -e` in a fresh home folder whose PATH starts
with the freshly built programs; a block marked `python` is run by Python in
the working folder the guide prepared (`~/spectra`), with the build tree's
module on PYTHONPATH.  Blocks marked `shell` are shown to the reader only
(installing a package, starting the windows, data the reader brings).

The English and the Japanese guide must hold the same commands: a reader of
either types the same lines.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```([A-Za-z0-9_+-]*)[^\n]*\n(.*?)^```\s*$", re.S | re.M)


def blocks(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    return [(m.group(1), m.group(2)) for m in FENCE.finditer(text)]


def runnable(path):
    return [(kind, body) for kind, body in blocks(path) if kind in ("sh", "python")]


def strip_comments(body):
    # A comment after a command belongs to the language of its guide.
    return [re.sub(r"\s+#.*$", "", line).rstrip() for line in body.splitlines()]


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--bin", action="append", default=[], help="folder of built programs, first on PATH")
    ap.add_argument("--pythonpath", default="", help="folder of the built Python module")
    ap.add_argument("--python", default=sys.executable)
    ap.add_argument("--skip-python", action="store_true", help="leave out the python blocks (a build without the module)")
    ap.add_argument("guides", nargs="+")
    a = ap.parse_args()

    first = runnable(a.guides[0])
    if not first:
        print(f"{a.guides[0]}: no runnable block", file=sys.stderr)
        return 1
    for other in a.guides[1:]:
        theirs = runnable(other)
        if [(k, strip_comments(b)) for k, b in theirs] != [(k, strip_comments(b)) for k, b in first]:
            print(f"{other}: its commands differ from those of {a.guides[0]}", file=sys.stderr)
            for (k1, b1), (k2, b2) in zip(first, theirs):
                if (k1, strip_comments(b1)) != (k2, strip_comments(b2)):
                    print(f"--- {a.guides[0]}\n{b1}--- {other}\n{b2}", file=sys.stderr)
                    break
            return 1

    with tempfile.TemporaryDirectory(prefix="guide-") as home:
        env = dict(os.environ)
        env["HOME"] = home
        env["PATH"] = os.pathsep.join([os.path.abspath(b) for b in a.bin] + [env.get("PATH", "")])
        if a.pythonpath:
            env["PYTHONPATH"] = os.path.abspath(a.pythonpath)
        env.setdefault("QT_QPA_PLATFORM", "offscreen")
        script = ["set -euo pipefail", f"cd {home}"]
        n = 0
        for kind, body in first:
            n += 1
            if kind == "sh":
                script.append(f"echo '>>> block {n}' >&2")
                script.append(body)
            elif a.skip_python:
                script.append(f"echo '>>> block {n} (python) left out: no module in this build' >&2")
            else:
                py = os.path.join(home, f"block{n}.py")
                with open(py, "w", encoding="utf-8") as f:
                    f.write(body)
                script.append(f"echo '>>> block {n} (python)' >&2")
                script.append(f"(cd ~/spectra && {a.python} {py})")
        r = subprocess.run(["bash", "-c", "\n".join(script)], env=env, cwd=home)
        if r.returncode != 0:
            print(f"a command of the guide failed (exit status {r.returncode}); the last block named above", file=sys.stderr)
            return 1
        print(f"{n} blocks of {a.guides[0]} ran")
    return 0


if __name__ == "__main__":
    sys.exit(main())
