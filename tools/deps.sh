#!/usr/bin/env bash
# Installs what building, testing and running Tarvik_CdTe needs on Debian 12.
# Run as root (or through sudo).  Does nothing when everything is present.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
          qt6-base-dev qt6-svg-dev qt6-translations-l10n qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
          libxrl-dev libpugixml-dev python3-dev pybind11-dev python3-numpy python3-pytest python3-matplotlib
          fonts-ipafont-gothic fonts-ipafont-mincho fonts-liberation
          xvfb xauth xterm poppler-utils)
# Packages named as arguments besides (clang and its runtimes: .ci/run, tools/fuzz.sh).
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
