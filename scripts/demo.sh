#!/usr/bin/env bash
# Sets up, builds and runs the main job: ten seconds of weighings from the built-in simulated scale,
# received through a pseudo-terminal by the serial port component, cut into the scale's record
# format and logged line by line into a dated workbook in demo/, which is then read back.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh --program >/dev/null

mkdir -p demo
# demo/linograf.ini need not exist: the simulated scale brings its own format and line settings.
summary=$(./build/app/linograf capture --demo --seconds "${DEMO_SECONDS:-10}" --ini demo/linograf.ini \
  --file "demo/scale_{yyyy}-{mm}-{dd}${DEMO_EXT:-.xls}")
printf '%s\n' "$summary"
workbook=$(printf '%s\n' "$summary" | sed -n 's/^  //p' | tail -n 1)
[ -n "$workbook" ] || { echo "demo: no workbook was written" >&2; exit 1; }

echo
echo "Workbook: $(realpath "$workbook")"
echo "Its first rows, read back with 'linograf cat':"
./build/app/linograf cat "$workbook" > demo/last-read.tsv
head -n 6 demo/last-read.tsv
echo "($(wc -l < demo/last-read.tsv) rows in all, header included; running the demo again today appends to it)"
