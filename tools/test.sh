#!/usr/bin/env bash
# Builds everything and runs every test (CTest).  Usage: bash tools/test.sh [build-dir] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
build=${1:-build}
shift || true
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$build" -j2
cd "$build"
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure
