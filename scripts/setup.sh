#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Linograf needs.
# Idempotent and quiet when everything is present; uses sudo when not run as root.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ clang libclang-rt-dev ccache pkg-config
  # libraries
  qt6-base-dev zlib1g-dev libexpat1-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # independent peers the tests open our files with
  python3 python3-xlrd python3-openpyxl python3-olefile python3-xlwt python3-xlsxwriter
  libxlsxwriter-dev unzip libreoffice-calc-nogui
  # windows on the offscreen platform and under Xvfb for screenshots
  fonts-dejavu-core xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
