#!/usr/bin/env bash
# Runs the tray application with the demo settings on the LED chain simulator for a while
# (30 s by default) and prints what it costs and how evenly it sends:
#   - CPU time of the program as a share of one core (from /proc/PID/stat),
#   - peak resident memory (VmHWM),
#   - frames per second received by the simulator,
#   - the share of intervals between frames within 25 +- 5 ms (simulator's frame log).
# Usage: bench/app_figures.sh [BUILD_DIR] [SECONDS]   (default build/dev, 30)
set -euo pipefail
cd "$(dirname "$0")/.."

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
cat >"$folder/vorlixa.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<Vorlixa><AutoUpdate>0</AutoUpdate><Ports><Port>
  <Name>$link</Name><Interval>25</Interval><Enabled>-1</Enabled>
  <LEDmin>0</LEDmin><LEDmax>254</LEDmax>
  <Controllers>
    <Controller Index="0"><BarSize>40</BarSize><Bars>
      <Bar Index="0"><Input>KnightRider</Input></Bar>
      <Bar Index="1"><Input>CPUUsage</Input></Bar>
    </Bars></Controller>
    <Controller Index="1"><BarSize>40</BarSize><Bars>
      <Bar Index="0"><Input>WaveInput</Input></Bar>
      <Bar Index="1"><Input>Nothing</Input></Bar>
    </Bars></Controller>
  </Controllers>
</Port></Ports></Vorlixa>
XML

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

ticks() { awk '{ print $14 + $15 }' "/proc/$app_pid/stat"; }
start_ticks=$(ticks)
start_ns=$(date +%s%N)
sleep "$seconds"
end_ticks=$(ticks)
end_ns=$(date +%s%N)
hwm_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$app_pid/status")

kill -TERM "$app_pid"
wait "$app_pid" || true
app_pid=

hz=$(getconf CLK_TCK)
awk -v t="$((end_ticks - start_ticks))" -v hz="$hz" -v ns="$((end_ns - start_ns))" -v kb="$hwm_kb" \
  'BEGIN {
     printf "CPU time:        %.3f %% of one core (%d ticks in %.1f s)\n", 100 * (t / hz) / (ns / 1e9), t, ns / 1e9
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
