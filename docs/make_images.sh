#!/usr/bin/env bash
# Renders the pictures of the user's guides with the front end's snapshot
# tools, in Japanese and in English, into docs/images/.
# Usage: bash docs/make_images.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/images
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen
for lang in ja en; do
  # A fixed working folder, so that the folder the windows show is the same
  # from one run to the next.
  rm -rf /tmp/spectra
  "$build/frontend/frontend_snapshot" "$tmp/$lang" /tmp/spectra --lang "$lang" >/dev/null 2>&1
  rm -rf /tmp/spectra
  "$build/frontend/display/display_snapshot" "$tmp/$lang-display" --lang "$lang" --work /tmp/spectra >/dev/null 2>&1
  rm -rf /tmp/spectra
  for f in form1_menu form7_settings form4_stripping form3_conversion characterize_window; do
    if [ -f "$tmp/$lang/$f.png" ]; then cp "$tmp/$lang/$f.png" "$out/$f.$lang.png"; fi
  done
  for f in display quality; do
    cp "$tmp/$lang-display/$f.png" "$out/$f.$lang.png"
  done
done
ls "$out"
