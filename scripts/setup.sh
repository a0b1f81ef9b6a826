#!/usr/bin/env bash
# Installs the Debian packages Linograf needs. Idempotent and quiet when everything is present;
# uses sudo when not run as root.
#   scripts/setup.sh           what building and running the program needs
#   scripts/setup.sh --tests   that, and what the tests, benchmarks and fuzzers need: the
#                              independent peers that open our files, clang for the sanitizer
#                              build, locales for the comma-decimal tests, clang-format, and the
#                              tools that check the package (man, systemd-analyze)
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ ccache pkg-config
  # libraries
  qt6-base-dev zlib1g-dev libexpat1-dev
  # the Debian package (cpack -G DEB computes its dependencies with dpkg-shlibdeps, which needs
  # file), and the Qt translations the window loads
  dpkg-dev file qt6-translations-l10n
)
if [ "${1:-}" = "--tests" ]; then
  packages+=(
    # tests, benchmarks, the sanitizer build and the fuzzers
    libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-dev clang-format locales
    # independent peers the tests open our files with
    python3 python3-xlrd python3-openpyxl python3-olefile python3-xlwt python3-xlsxwriter
    libxlsxwriter-dev unzip libreoffice-calc-nogui
    # gnumeric's ssconvert, a producer of the workbooks the live log extends (about 90 MB with
    # its GTK libraries; it runs without a display)
    gnumeric
    # the unpacked package's man page, its service unit and its desktop entry
    man-db systemd desktop-file-utils
    # windows on the offscreen platform and under Xvfb for screenshots
    fonts-dejavu-core xvfb xauth
  )
elif [ -n "${1:-}" ]; then
  echo "usage: $0 [--tests]" >&2
  exit 2
fi

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
