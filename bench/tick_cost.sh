#!/usr/bin/env bash
# What a tick of the program costs, in instructions counted by callgrind: a count that does
# not move with the machine's speed or load, so that two builds compare where the CPU
# share of light_figures.sh moves by a third from run to run. The program runs the demo
# settings without sound (the sound bar set to "Nothing") on the LED chain simulator, in a
# notification area when Xvfb and trayer are installed. Counting starts once the program
# has run for WARMUP seconds and lasts SECONDS. Prints the ticks counted (the calls of the
# loop's tick), then per tick the instructions of the tick itself and those of all the
# program's threads (the event loop, the desktop's events and the workers included).
# Under callgrind the program runs some fifty times slower, but a tick still ends well
# within its 25 ms, so it ticks as often as it does for users.
# Usage: bench/tick_cost.sh [BUILD_DIR] [SECONDS] [PROGRAM]
#   (default build/dev, 20, the build's program; PROGRAM measures another build of it)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/demo-settings.sh
source scripts/demo-settings.sh
# shellcheck source=bench/bench-env.sh
source bench/bench-env.sh

build="${1:-build/dev}"
seconds="${2:-20}"
app="${3:-$build/src/vorlixa}"
sim="$build/tools/sim/vorlixa-sim"
warmup=20
for program in "$sim" "$app"; do
  if [ ! -x "$program" ]; then
    echo "tick_cost: $program not found; build first" >&2
    exit 1
  fi
done
for tool in valgrind callgrind_control; do
  if ! command -v "$tool" >/dev/null; then
    echo "tick_cost: $tool not found (Debian's valgrind)" >&2
    exit 1
  fi
done

folder="$(mktemp -d "${TMPDIR:-/tmp}/vorlixa-tick-XXXXXX")"
pids=()
cleanup() {
  stop_processes
  rm -rf "$folder"
}
trap cleanup EXIT

# The world of light_figures.sh: a private sound server and a desktop with a tray.
start_sound_server "$folder"
start_tray_desktop

write_demo_settings "$folder/vorlixa.xml" "$folder/chain"
sed -i 's|<Input>WaveInput</Input>|<Input>Nothing</Input>|' "$folder/vorlixa.xml"
cp "$app" "$folder/vorlixa"
start_simulator "$sim" "$folder/chain" --boards 2

valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file="$folder/callgrind.out.%p" \
  "$folder/vorlixa" >/dev/null 2>"$folder/valgrind.txt" &
app_pid=$!
pids+=("$app_pid")
sleep "$warmup"
callgrind_control -i on "$app_pid" >/dev/null 2>&1
sleep "$seconds"
callgrind_control -i off "$app_pid" >/dev/null 2>&1
kill -TERM "$app_pid"
wait "$app_pid" || true

# The calls of the tick and their inclusive cost, from callgrind's own file (names are
# written once, then referred to by number).
awk -v seconds="$seconds" -v desktop="$desktop" '
  /^(c?fn)=\(/ {
    id = $1; sub(/^c?fn=/, "", id)
    if (NF > 1) { name = $0; sub(/^[^ ]* /, "", name); names[id] = name }
    if ($1 ~ /^cfn=/) { inTick = names[id] ~ /TUpdateLoop::LEDUpdateExecute\(\)/ }
    next
  }
  /^calls=/ { if (inTick) { split($1, c, "="); ticks += c[2]; takeCost = 1 } next }
  takeCost { tickIr += $2; takeCost = 0; next }
  /^totals:/ { total = $2 }
  END {
    if (ticks == 0) { print "tick_cost: no tick was counted" > "/dev/stderr"; exit 1 }
    printf "Desktop: %s; counted over %d s\n", desktop, seconds
    printf "ticks counted:                   %d (%.1f/s)\n", ticks, ticks / seconds
    printf "instructions per tick, the tick: %.0f\n", tickIr / ticks
    printf "instructions per tick, in all:   %.0f\n", total / ticks
  }' "$folder/callgrind.out.$app_pid"
