#!/usr/bin/env bash
# Builds the Debian package, installs it with apt, runs the installed
# programs in a fresh folder and compares their results byte for byte with
# the build tree's, then removes the package again.
# Usage: bash tools/package_check.sh [build-dir]   (an already built tree)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
build=$(cd "${1:-build}" && pwd)
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

cmake --build "$build" -j2 --target package
deb=$(ls -t "$build"/tarvik-cdte_*.deb | head -n 1)
echo "Package: $deb"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
trap '$SUDO env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tarvik-cdte >/dev/null' EXIT

for f in /usr/bin/Tarvik_CdTe /usr/bin/tvstrip /usr/bin/tvconv /usr/share/tarvik/RES/800kev.dat \
         /usr/share/tarvik/Carbon.dat /usr/share/tarvik/PMMA.dat /usr/share/applications/tarvik-cdte.desktop \
         /usr/share/icons/hicolor/scalable/apps/tarvik.svg /usr/share/man/man1/tvstrip.1.gz \
         /usr/share/man/man1/tvconv.1.gz /usr/share/man/man1/Tarvik_CdTe.1.gz \
         /usr/share/tarvik/translations/tarvik_en.qm /usr/lib/python3/dist-packages/tarvik/__init__.py \
         /usr/lib/python3/dist-packages/tarvik/_core.pyi /usr/lib/python3/dist-packages/tarvik/py.typed; do
  [ -e "$f" ] || { echo "package check: $f is not installed" >&2; exit 1; }
done

tmp=$(mktemp -d)
trap '$SUDO env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tarvik-cdte >/dev/null; rm -rf "$tmp"' EXIT
spectrum=W80kV_2.5mmAl_direct.csv
built_tarvik=$(find "$build" -maxdepth 3 -type f -name tarvik -perm -u+x | head -n 1)

# The console programs as the front end starts them, through the dialogs'
# own logic: the installed ones in a folder that holds only the spectra
# (response tables and scatterer files come from /usr/share/tarvik), the
# build tree's in a folder prepared from data/.
mkdir -p "$tmp/installed/chain" "$tmp/built/chain"
cp -r /usr/share/tarvik/Tarvik_data "$tmp/installed/chain/"
ln -s /usr/bin/tvstrip /usr/bin/tvconv "$tmp/installed/chain/"
cp -r data/. "$tmp/built/chain/"
cp "$build/strip/tvstrip" "$build/conv/tvconv" "$tmp/built/chain/"
(cd "$tmp/installed/chain" && "$build/tools/tarvik_demo_chain" >/dev/null)
(cd "$tmp/built/chain" && "$build/tools/tarvik_demo_chain" >/dev/null)

if [ -n "$built_tarvik" ]; then
  # The command line: a working folder from the installed data, one demo
  # spectrum corrected there, against the same from the build tree.
  completion=/usr/share/bash-completion/completions/tarvik
  for f in /usr/bin/tarvik /usr/share/man/man1/tarvik.1.gz "$completion"; do
    [ -e "$f" ] || { echo "package check: $f is not installed" >&2; exit 1; }
  done
  offered=$(bash --norc --noprofile -c "source $completion; COMP_WORDS=(tarvik quality --me); COMP_CWORD=2;
                                         _tarvik; echo \${COMPREPLY[*]}")
  [ "$offered" = "--method" ] || { echo "package check: the completion offers \"$offered\" for --me" >&2; exit 1; }
  (cd "$tmp/installed" && /usr/bin/tarvik init cli >/dev/null 2>&1 &&
     cd cli && /usr/bin/tarvik strip --kv 80 --kev-per-channel 0.1 "Tarvik_data/$spectrum" </dev/null)
  (cd "$tmp/built" && "$built_tarvik" init cli >/dev/null 2>&1 &&
     cd cli && "$built_tarvik" strip --kv 80 --kev-per-channel 0.1 "Tarvik_data/$spectrum" </dev/null)
fi

if [ -n "$built_tarvik" ]; then
  # A small characterization from the installed package: calibration spectra
  # simulated by the build tree's tvgen, characterized by the installed and
  # the built tarvik in their working folders (standard tables copied from
  # there); the two results must be the same.
  built_tvgen=$(find "$build" -maxdepth 3 -type f -name tvgen -perm -u+x | head -n 1)
  if [ -n "$built_tvgen" ]; then
    "$built_tvgen" --source-spectra --count-scale 0.5 --threads 2 --out "$tmp/sources" 2>/dev/null
    for side in installed built; do
      exe=/usr/bin/tarvik
      [ "$side" = built ] && exe=$built_tarvik
      (cd "$tmp/$side/cli" && "$exe" characterize --source 241Am "$tmp/sources/241Am.csv" \
         --source 57Co "$tmp/sources/57Co.csv" --source 133Ba "$tmp/sources/133Ba.csv" \
         --kev-per-channel 0.15 --bias 400 --photons-per-node 20000 --threads 2 --out characterized \
         </dev/null >/dev/null)
    done
    for f in characterization.json RES/detector.txt RES/unfold.rsp RES/800kev.dat; do
      cmp "$tmp/installed/cli/characterized/$f" "$tmp/built/cli/characterized/$f"
    done
    [ -s "$tmp/installed/cli/characterized/report_1_241Am.png" ] ||
      { echo "package check: the installed characterization drew no report" >&2; exit 1; }
    echo "package check: tarvik characterize from the installed package, the same result as the build tree's"
  fi
fi

if [ -n "$built_tarvik" ] && [ -d "$build/python/tarvik" ]; then
  # The Python module for Debian's Python 3, from a folder without data: it
  # finds the installed data and strips the demo spectrum to the bytes of
  # the build tree's `tarvik strip` above.
  mkdir -p "$tmp/python"
  (cd "$tmp/python" && env -u PYTHONPATH /usr/bin/python3 - "$spectrum" <<'PY'
import pathlib, sys
import tarvik
assert tarvik.__file__.startswith("/usr/lib/python3/dist-packages/tarvik/"), tarvik.__file__
assert str(tarvik.data_folder()) == "/usr/share/tarvik", tarvik.data_folder()
measured = tarvik.read(tarvik.data_folder() / "Tarvik_data" / sys.argv[1])
tarvik.write(tarvik.strip(measured, 80, 0.1), "python.mca1")
print("python module:", tarvik.__file__, "quality:", round(tarvik.quality(tarvik.read("python.mca1"), resamples=0).hvl1_al_mm, 4), "mm Al")
PY
  )
  cmp "$tmp/python/python.mca1" "$tmp/built/cli/Tarvik_data/${spectrum%.csv}.mca1"
  echo "package check: the Python module imports from the package and strips as tarvik does"
fi

# The installed front end starts in a fresh folder and keeps running (it ends
# only through its menu): still running after 5 s is what a start looks like.
status=0
(cd "$tmp/installed" && QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/Tarvik_CdTe >/dev/null 2>&1) || status=$?
[ "$status" -eq 124 ] || { echo "package check: Tarvik_CdTe ended with status $status" >&2; exit 1; }
# In English, with the installed translation: no note that it fell back to Japanese.
status=0
(cd "$tmp/installed" && QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/Tarvik_CdTe --lang en >/dev/null 2>"$tmp/en.err") ||
  status=$?
[ "$status" -eq 124 ] && ! grep -q "Japanese" "$tmp/en.err" ||
  { echo "package check: Tarvik_CdTe --lang en: status $status, $(cat "$tmp/en.err")" >&2; exit 1; }

compared=0
for result in "$tmp"/built/*/Tarvik_data/*.mca1 "$tmp"/built/*/Tarvik_data/*.mca2; do
  [ -e "$result" ] || continue
  cmp "$result" "$tmp/installed/${result#"$tmp"/built/}"
  compared=$((compared + 1))
done
[ "$compared" -gt 0 ] || { echo "package check: no result to compare" >&2; exit 1; }
echo "package check: installed, $compared result(s) identical to the build tree's, removed"
