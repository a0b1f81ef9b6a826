#!/usr/bin/env bash
# Formats every C++ file with the project's .clang-format. Usage: scripts/format.sh [--check]
#   --check   changes nothing; lists the files that are not formatted and fails if there are any
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  # One run over every file; each unformatted place is reported as "FILE:LINE:COL: error: ...".
  report=$(clang-format --dry-run -Werror "${files[@]}" 2>&1) && exit 0
  echo "format: these files differ from .clang-format (run scripts/format.sh):" >&2
  grep -oE '^[^:]+:[0-9]+:[0-9]+: error' <<<"$report" | cut -d: -f1 | sort -u | sed 's/^/  /' >&2
  exit 1
elif [ -n "${1:-}" ]; then
  echo "usage: $0 [--check]" >&2
  exit 2
else
  clang-format -i "${files[@]}"
fi
