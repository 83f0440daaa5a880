#!/usr/bin/env bash
# Where the resident memory of the running programs goes, library by library
# (/proc/PID/smaps), on a desktop with a notification area and a private PulseAudio, with
# the demo settings on the LED chain simulator:
#   - "with update": the program as a build with an update key has it (the update test's
#     build of it, with an address and a key given: Qt Network and libsodium loaded);
#   - "no key": the program as the Debian package builds it, without update code;
#   - "service": vorlixad;
#   - the minimal Qt tray program and the minimal QCoreApplication program.
# Each column is one process, measured SECONDS after its start; "other" sums the files
# under 100 kB, "anonymous" the heap, stacks and other memory without a file.
# Usage: bench/library_memory.sh [BUILD_DIR] [SECONDS]   (default build/dev, 6)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/demo-settings.sh
source scripts/demo-settings.sh
# shellcheck source=bench/bench-env.sh
source bench/bench-env.sh

build="${1:-build/dev}"
seconds="${2:-6}"
sim="$build/tools/sim/vorlixa-sim"
keyed="$build/tests/vorlixa-updatetest"
for program in "$sim" "$build/src/vorlixa" "$build/src/vorlixad" "$keyed"; do
  [ -x "$program" ] || { echo "library_memory: $program not found; build first" >&2; exit 1; }
done

folder="$(mktemp -d "${TMPDIR:-/tmp}/vorlixa-libraries-XXXXXX")"
pids=()
cleanup() {
  stop_processes
  rm -rf "$folder"
}
trap cleanup EXIT

mkdir "$folder/bin"
build_minimal_programs "$folder/bin"
start_sound_server "$folder"
start_tray_desktop
link="$folder/chain"
start_simulator "$sim" "$link" --boards 2

# measure NAME COMMAND...: runs the command in a folder of its own, with the demo settings
# beside it, and writes NAME.rss: "kB<tab>file" lines.
measure() {
  local name=${1// /-}
  local dir="$folder/$name"
  shift
  mkdir "$dir"
  write_demo_settings "$dir/vorlixa.xml" "$link"
  cp "$1" "$dir/vorlixa"
  shift
  (cd "$dir" && exec ./vorlixa "$@" >/dev/null 2>&1) &
  local pid=$!
  pids+=("$pid")
  sleep "$seconds"
  awk -v self="$dir/vorlixa" '
    /^[0-9a-f]+-[0-9a-f]+ / { file = (NF >= 6 && $6 ~ /^\//) ? $6 : "anonymous"; if (file == self) file = "(the program)" }
    /^Rss:/ { kb[file] += $2 }
    END { for (f in kb) print kb[f] "\t" f }' "/proc/$pid/smaps" >"$folder/$name.rss"
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
}
VORLIXA_TEST_UPDATE_ADDRESS=http://127.0.0.1:9/updates \
  VORLIXA_TEST_UPDATE_KEY=RWQf6LRCGA9i53mlYecO4IzT51TGPpvWucNSCh1CBM0QTaLn73Y7GFO3 \
  measure "with update" "$keyed"
measure "no key" "$build/src/vorlixa"
measure "service" "$build/src/vorlixad"
measure "minimal tray" "$folder/bin/minimal-qt"
measure "minimal core" "$folder/bin/minimal-core"

echo "Desktop: $desktop; resident kB per file, $seconds s after each start"
columns=("with update" "no key" "service" "minimal tray" "minimal core")
awk -v names="$(printf '%s|' "${columns[@]}")" -v dir="$folder" '
  BEGIN {
    n = split(names, col, "|") - 1
    for (i = 1; i <= n; i++) {
      file = dir "/" col[i] ".rss"
      gsub(/ /, "-", file)
      while ((getline line < file) > 0) {
        split(line, f, "\t")
        name = f[2]; sub(/^.*\//, "", name)
        kb[name, i] = f[1]; total[i] += f[1]; seen[name] = 1
        if (f[1] > top[name]) top[name] = f[1]
      }
    }
    printf "%-34s", ""
    for (i = 1; i <= n; i++) printf "%13s", col[i]
    printf "\n"
    for (name in seen) if (top[name] >= 100) big[name] = 1
    for (name in seen) if (!(name in big)) for (i = 1; i <= n; i++) other[i] += kb[name, i]
    cmd = "sort -t\"\t\" -k2,2nr"
    for (name in big) {
      line = sprintf("%-34s", substr(name, 1, 34))
      for (i = 1; i <= n; i++) line = line sprintf("%13d", kb[name, i])
      printf "%s\t%d\n", line, top[name] | cmd
    }
    close(cmd)
    printf "%-34s", "other (each under 100 kB)"
    for (i = 1; i <= n; i++) printf "%13d", other[i]
    printf "\n%-34s", "total"
    for (i = 1; i <= n; i++) printf "%13d", total[i]
    printf "\n"
  }' | cut -f1
