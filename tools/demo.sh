#!/usr/bin/env bash
# Builds the system, prepares a working folder from the shipped data and runs
# it there: Tarvik_CdTe when a display is available, otherwise the demo chain
# (stripping of both demo spectra, conversion of the scattered one) headless.
# Usage: bash tools/demo.sh [working-folder]   (default: ./work)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target Tarvik_CdTe tvstrip tvconv tarvik_demo_chain

work=$(mkdir -p "${1:-$repo/work}" && cd "${1:-$repo/work}" && pwd)
echo "Working folder: $work"
rm -rf "$work/RES"
cp -r data/RES "$work/RES"
cp data/Carbon.dat data/PMMA.dat data/Carbon_profile.dat data/PMMA_profile.dat "$work/"
mkdir -p "$work/Tarvik_data"
cp -n data/Tarvik_data/*.csv data/Tarvik_data/*.mca "$work/Tarvik_data/" 2>/dev/null || true
cp build/strip/tvstrip build/conv/tvconv build/frontend/Tarvik_CdTe "$work/"
cd "$work"
if [ -n "${DISPLAY:-}" ]; then
  echo "Starting Tarvik_CdTe in $work"
  exec ./Tarvik_CdTe
else
  echo "No display: running the demo chain headless."
  "$repo/build/tools/tarvik_demo_chain"
fi
