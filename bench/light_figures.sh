#!/usr/bin/env bash
# What the program costs as users run it, next to the least a Qt tray program costs, in
# one run: the program with the demo settings, the same without sound (the sound bar set
# to "Nothing"), and a minimal Qt program (a main window, a tray icon and a 25 ms timer,
# built by this script). For each it prints
#   - the CPU time of all threads as a share of one core (the scheduler's accounting),
#   - wake-ups per second (the context switches of all threads),
#   - system calls per second (strace -c, over a separate window: strace slows the
#     process, so the CPU figure is taken without it),
#   - peak resident memory (VmHWM).
# On a desktop with a notification area (Xvfb with trayer here, when both are installed)
# the window stays hidden, as it does for users; without one it shows, and costs more.
# The sound bar shows noise played into a private PulseAudio.
# Usage: bench/light_figures.sh [BUILD_DIR] [SECONDS]   (default build/dev, 20)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/demo-settings.sh
source scripts/demo-settings.sh
# shellcheck source=bench/bench-env.sh
source bench/bench-env.sh

build="${1:-build/dev}"
seconds="${2:-20}"
strace_seconds=5
warmup=3
sim="$build/tools/sim/vorlixa-sim"
app="$build/src/vorlixa"
for program in "$sim" "$app"; do
  if [ ! -x "$program" ]; then
    echo "light_figures: $program not found; build first" >&2
    exit 1
  fi
done

folder="$(mktemp -d "${TMPDIR:-/tmp}/vorlixa-light-XXXXXX")"
pids=()
# Newest first, so that the programs end while the desktop and the sound server run.
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -TERM "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$folder"
}
trap cleanup EXIT

build_minimal_programs "$folder"
minimal="$folder/minimal-qt"

start_sound_server "$folder"
start_tray_desktop
# Noise into the speakers, whose monitor the sound bar of the demo settings shows.
pacat --raw --format=u8 --channels=2 --rate=44100 --device=speakers </dev/urandom &
pids+=($!)

# Sum over the process's threads.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ sum += $1 } END { printf "%d", sum }'; }
switches() {
  cat /proc/"$1"/task/*/status |
    awk '/^voluntary_ctxt_switches:/ { sum += $2 } END { printf "%d", sum }'
}

# measure NAME PID: prints one line of figures.
measure() {
  local name=$1 pid=$2
  sleep "$warmup"
  local cpu0 sw0 t0 cpu1 sw1 t1 calls hwm
  cpu0=$(cpu_ns "$pid") sw0=$(switches "$pid") t0=$(date +%s%N)
  sleep "$seconds"
  cpu1=$(cpu_ns "$pid") sw1=$(switches "$pid") t1=$(date +%s%N)
  calls=0 top=""
  if command -v strace >/dev/null; then
    timeout "$strace_seconds" strace -c -f -p "$pid" -o "$folder/$name.strace" 2>/dev/null || true
    calls=$(awk '$NF == "total" { print $4 }' "$folder/$name.strace")
    # The commonest calls per second, for the line under the figures.
    top=$(awk -v sc="$strace_seconds" '$1 ~ /^[0-9.]+$/ && $NF != "total" && $4 >= sc {
        printf "%s %.0f/s\n", $NF, $4 / sc }' "$folder/$name.strace" |
      sort -k2 -t' ' -rn | head -5 | paste -sd, -)
  fi
  hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
  awk -v name="$name" -v cpu=$((cpu1 - cpu0)) -v sw=$((sw1 - sw0)) -v ns=$((t1 - t0)) \
    -v calls="${calls:-0}" -v sc="$strace_seconds" -v kb="$hwm" \
    'BEGIN { printf "%-22s %7.3f %% %9.1f %10.1f %9.1f MB\n", name, 100 * cpu / ns, sw / (ns / 1e9), calls / sc, kb / 1024 }' |
    tee -a "$folder/figures"
  [ -n "${top:-}" ] && echo "    system calls: $top"
}

# run_program NAME SETTINGS_EDIT: the program with the demo settings on a simulator.
run_program() {
  local name=$1 edit=$2 dir="$folder/$1"
  mkdir "$dir"
  cp "$app" "$dir/vorlixa"
  write_demo_settings "$dir/vorlixa.xml" "$dir/chain"
  [ -n "$edit" ] && sed -i "$edit" "$dir/vorlixa.xml"
  start_simulator "$sim" "$dir/chain" --boards 2
  "$dir/vorlixa" >/dev/null 2>"$dir/stderr.txt" &
  local app_pid=$!
  pids+=("$app_pid")
  measure "$name" "$app_pid"
  kill -TERM "$app_pid"
  wait "$app_pid" || true
  kill -TERM "$sim_pid"
  wait "$sim_pid" 2>/dev/null || true
}

echo "Desktop: $desktop; $seconds s each after $warmup s, system calls over $strace_seconds s"
printf "%-22s %9s %9s %10s %12s\n" "" "CPU" "wake-ups/s" "syscalls/s" "peak memory"
"$minimal" >/dev/null 2>&1 &
minimal_pid=$!
pids+=("$minimal_pid")
measure "minimal Qt program" "$minimal_pid"
kill -TERM "$minimal_pid"
wait "$minimal_pid" 2>/dev/null || true
run_program "without sound" 's|<Input>WaveInput</Input>|<Input>Nothing</Input>|'
run_program "demo settings" ""

awk '
  { name = $1 " " $2; cpu[name] = $(NF - 5); mb[name] = $(NF - 1) }
  END {
    printf "Targets: without sound %.3f %% (at most 0.3); demo memory %.1f MB (at most 25), %.1f MB above the minimal Qt program (at most 5)\n",
      cpu["without sound"], mb["demo settings"], mb["demo settings"] - mb["minimal Qt"]
  }' "$folder/figures"
