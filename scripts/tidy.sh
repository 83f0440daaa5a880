#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) over every source file of the program, its
# tools and its tests in a configured build, and fails when it finds anything, or when
# clang-tidy itself fails (a file that does not compile, a crash).
# Usage: scripts/tidy.sh [BUILD_DIR]   (default build/ci; needs compile_commands.json)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/ci}"
database="$build/compile_commands.json"
if [ ! -f "$database" ]; then
  echo "tidy: $database not found; configure the build first" >&2
  exit 1
fi
# The moc output of the build is generated code: only our own files count.
root="$PWD"
mapfile -t files < <(grep -o "\"file\": *\"$root/\(src\|tools\|tests\)/[^\"]*\.cpp\"" "$database" |
  sed 's/.*"\(.*\)"$/\1/' | sort -u)
if [ ${#files[@]} -eq 0 ]; then
  echo "tidy: no source files in $database" >&2
  exit 1
fi
report="$(mktemp)"
errors="$(mktemp)"
trap 'rm -f "$report" "$errors"' EXIT
# clang-tidy exits non-zero on a compile error or a crash (not on a finding); xargs passes
# that on. The analyzer runs in its shallow mode, which keeps the run to minutes (see
# .clang-tidy).
status=0
printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -n 1 clang-tidy -p "$build" --quiet \
    --extra-arg=-Xclang --extra-arg=-analyzer-config --extra-arg=-Xclang --extra-arg=mode=shallow \
    >"$report" 2>"$errors" || status=$?
# A finding in a header repeats for every file that includes it: each counts once. Headers
# are reached through the layers' include roots in the build; they are named by their place
# in src/.
mapfile -t findings < <(grep -E '^[^ ].*:[0-9]+:[0-9]+: (warning|error): ' "$report" |
  sed -e "s|^$root/[^:]*/include-roots/[^/]*/|src/|" -e "s|^$root/||" | sort -u)
if [ ${#findings[@]} -ne 0 ]; then
  printf '%s\n' "${findings[@]}"
fi
if [ "$status" -ne 0 ]; then
  grep -v ' generated\.$' "$errors" >&2 || true
  echo "tidy: clang-tidy failed (exit status $status)" >&2
  exit 1
fi
if [ ${#findings[@]} -ne 0 ]; then
  echo "tidy: ${#findings[@]} finding(s) in ${#files[@]} files" \
    "(clang-tidy -p $build FILE shows them in context)" >&2
  exit 1
fi
echo "tidy: no findings in ${#files[@]} files"
