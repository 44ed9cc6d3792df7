#!/usr/bin/env bash
# The headless demo chain on the shipped demo spectra in a fresh working
# folder: every run succeeds, and each of its three tables (the two spectra
# at the detector, the primary beam after the conversion) puts the truth of
# the file's header beside the standard and the unfolding results, the
# unfolding's within 0.05 keV and 1 % of the truth.
# Usage: demo_chain_test.sh DEMO_CHAIN TVSTRIP TVCONV DATA_DIR
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: demo_chain_test.sh DEMO_CHAIN TVSTRIP TVCONV DATA_DIR" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$(realpath "$4/RES")" "$work/RES"
cp "$4"/Carbon.dat "$4"/PMMA.dat "$4"/Carbon_profile.dat "$4"/PMMA_profile.dat "$work/"
mkdir "$work/Tarvik_data"
cp "$4"/Tarvik_data/*.csv "$work/Tarvik_data/"
ln -s "$(realpath "$2")" "$work/tvstrip"
ln -s "$(realpath "$3")" "$work/tvconv"
(cd "$work" && "$(realpath "$1")") > "$work/out.txt"
cat "$work/out.txt"
awk '
  /truth \(the file.s header\)/ { tm = $(NF-4); th = $(NF-2); truth = 1; next }
  /^    standard/ && truth { standard++ }
  /^    unfold/ && truth {
    m = $(NF-4); h = $(NF-2); tables++
    if ((m - tm) > 0.05 || (tm - m) > 0.05 || (h - th) > 0.01 * th || (th - h) > 0.01 * th) {
      printf "unfold %s keV %s mm Al against the truth %s keV %s mm Al\n", m, h, tm, th; bad++
    }
    truth = 0
  }
  END {
    if (tables != 3 || standard != 3) { printf "%d tables with truth and unfold, %d standard rows: 3 of each expected\n", tables, standard; exit 1 }
    exit bad > 0
  }' "$work/out.txt"
