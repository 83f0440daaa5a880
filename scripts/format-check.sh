#!/usr/bin/env bash
# Fails on any C++ file of the repository that clang-format (the repository's
# .clang-format) would change, and names it. Fix with: clang-format -i FILE
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
report="$(mktemp)"
trap 'rm -f "$report"' EXIT
if ! clang-format --dry-run -Werror "${files[@]}" 2>"$report"; then
  grep -o '^[^: ]*:[0-9]*:[0-9]*: error' "$report" | cut -d: -f1 | sort -u |
    sed 's/^/format: not formatted: /' >&2
  exit 1
fi
echo "format: ${#files[@]} files formatted"
