#!/usr/bin/env bash
# Runs the tray application with the demo settings on the LED chain simulator for a while
# (30 s by default) and prints what it costs and how evenly it sends:
#   - CPU time of the program as a share of one core (the scheduler's on-CPU time of its
#     threads),
#   - peak resident memory (VmHWM),
#   - frames per second received by the simulator,
#   - the share of intervals between frames within 25 +- 5 ms (simulator's frame log).
# Usage: bench/app_figures.sh [BUILD_DIR] [SECONDS]   (default build/dev, 30)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/demo-settings.sh
source scripts/demo-settings.sh

build="${1:-build/dev}"
seconds="${2:-30}"
sim="$build/tools/sim/vorlixa-sim"
app="$build/src/vorlixa"
warmup=2

for program in "$sim" "$app"; do
  if [ ! -x "$program" ]; then
    echo "app_figures: $program not found; build first" >&2
    exit 1
  fi
done

folder="$(mktemp -d "${TMPDIR:-/tmp}/vorlixa-figures-XXXXXX")"
link="$folder/chain"
frames="$folder/frames.log"
cp "$app" "$folder/vorlixa"
write_demo_settings "$folder/vorlixa.xml" "$link"

"$sim" --no-display --link "$link" --boards 2 --log "$frames" >/dev/null 2>&1 &
sim_pid=$!
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill -TERM "$app_pid" 2>/dev/null || true
  [ -n "$app_pid" ] && wait "$app_pid" 2>/dev/null || true
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -rf "$folder"
}
trap cleanup EXIT

for _ in $(seq 100); do
  [ -L "$link" ] && break
  sleep 0.05
done
[ -L "$link" ] || { echo "app_figures: the simulator did not start" >&2; exit 1; }

QT_QPA_PLATFORM=offscreen "$folder/vorlixa" >/dev/null 2>"$folder/stderr.txt" &
app_pid=$!
sleep "$warmup"

# On-CPU time of all the program's threads in nanoseconds, from the scheduler's own
# accounting (exact, unlike the 10 ms ticks of /proc/PID/stat).
cpu_ns() { cat /proc/"$app_pid"/task/*/schedstat | awk '{ sum += $1 } END { printf "%d", sum }'; }
start_cpu=$(cpu_ns)
start_ns=$(date +%s%N)
sleep "$seconds"
end_cpu=$(cpu_ns)
end_ns=$(date +%s%N)
hwm_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$app_pid/status")

kill -TERM "$app_pid"
wait "$app_pid" || true
app_pid=

awk -v cpu="$((end_cpu - start_cpu))" -v ns="$((end_ns - start_ns))" -v kb="$hwm_kb" \
  'BEGIN {
     printf "CPU time:        %.3f %% of one core (%.1f ms in %.1f s)\n", 100 * cpu / ns, cpu / 1e6, ns / 1e9
     printf "Peak resident:   %.1f MB (VmHWM %d kB)\n", kb / 1024, kb
   }'

# Frames: the lines of 1 + 160 bytes. The first seconds (start-up) and the dark frame at
# the end are left out.
awk -v warmup="$warmup" -v boards=2 '
  NF == 2 + 80 * boards && $2 == "FF" { times[n++] = $1 }
  END {
    if (n < 3) { print "Frames:          too few frames received"; exit 1 }
    first = 0
    while (first < n && times[first] - times[0] < warmup) first++
    last = n - 2
    count = last - first
    span = times[last] - times[first]
    within = 0
    for (i = first + 1; i <= last; i++) {
      d = (times[i] - times[i - 1]) * 1000
      if (d >= 20 && d <= 30) within++
    }
    printf "Frames:          %.2f per second (%d frames in %.1f s)\n", count / span, count + 1, span
    printf "Intervals:       %.2f %% within 25 +- 5 ms (%d of %d)\n", 100 * within / count, within, count
  }' "$frames"
