#!/usr/bin/env bash
# What the sound meter costs, beside cava, on the same real-time source: a private
# PulseAudio whose null sink "speakers" is the default output and whose monitor is the
# default recording device. The program lives in a notification area when Xvfb and trayer
# are installed, as users run it.
#   1. pacat plays noise into the sink. The program (demo settings, two boards on the
#      LED chain simulator, one bar the sound level) and cava (40 frames/s, 20 bars, raw output to
#      /dev/null) run side by side for SECONDS; their CPU time comes from the scheduler's
#      exact accounting of all their threads (and the sound library's threads in them).
#   2. vorlixa-tonesteps plays silence and noise by turns and tells when each step to noise
#      is played; the delay is the time from there to the first frame on the simulator's
#      line whose sound bar shows it (at least 20 of its 40 LEDs lit).
#   3. Frequency bands: the program, now with 8 sound bars of 8 bands on 4 boards from one
#      source (a spectrum display), beside a fresh cava on the noise again, for SECONDS.
# Prints both CPU shares, their ratio, and the delay's median and 95th percentile, then the
# shares and ratio of the band case.
# Usage: bench/sound_cost.sh [BUILD_DIR] [SECONDS] [PROGRAM]
#   (default build/dev, 30, the build's program; PROGRAM measures another build of it)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/demo-settings.sh
source scripts/demo-settings.sh
# shellcheck source=bench/bench-env.sh
source bench/bench-env.sh

build="${1:-build/dev}"
seconds="${2:-30}"
sim="$build/tools/sim/vorlixa-sim"
app="${3:-$build/src/vorlixa}"
steps_tool="$build/tools/tonesteps/vorlixa-tonesteps"
steps=40
warmup=2

for program in "$sim" "$app" "$steps_tool"; do
  if [ ! -x "$program" ]; then
    echo "sound_cost: $program not found; build first" >&2
    exit 1
  fi
done
for tool in pulseaudio pacat pactl cava; do
  command -v "$tool" >/dev/null || { echo "sound_cost: $tool missing (scripts/install-deps.sh)" >&2; exit 1; }
done

folder="$(mktemp -d "${TMPDIR:-/tmp}/vorlixa-sound-XXXXXX")"
pids=()
# Newest first: the program and cava end while the server still runs (an older build of the
# program would hang without it). Whatever does not end within 2 s is killed.
cleanup() {
  stop_processes
  rm -rf "$folder"
}
trap cleanup EXIT

mkdir -p "$folder/app" "$folder/cava"
start_sound_server "$folder"
start_tray_desktop
echo "Desktop: $desktop"
write_cava_config "$folder/cava/config"

pacat --raw --format=u8 --channels=2 --rate=44100 --device=speakers </dev/urandom &
player=$!
pids+=("$player")

link="$folder/chain"
frames="$folder/frames.log"
start_simulator "$sim" "$link" --boards 2 --log "$frames"

cp "$app" "$folder/app/vorlixa"
write_demo_settings "$folder/app/vorlixa.xml" "$link"
# Starts the program on its settings file and cava side by side, and lets them warm up.
start_pair() {
  "$folder/app/vorlixa" >/dev/null 2>>"$folder/app/stderr.txt" &
  app_pid=$!
  pids+=("$app_pid")
  cava -p "$folder/cava/config" >/dev/null 2>>"$folder/cava/stderr.txt" &
  cava_pid=$!
  pids+=("$cava_pid")
  sleep "$warmup"
  for pid in "$app_pid" "$cava_pid"; do
    kill -0 "$pid" 2>/dev/null || { echo "sound_cost: process $pid ended early" >&2; exit 1; }
  done
}
start_pair

# On-CPU time of all of a process's threads in nanoseconds.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ sum += $1 } END { printf "%d", sum }'; }
# Prints the CPU shares of the program and cava over SECONDS. Usage: measure_cpu TARGET
measure_cpu() {
  local app_start cava_start start_ns app_end cava_end end_ns
  app_start=$(cpu_ns "$app_pid")
  cava_start=$(cpu_ns "$cava_pid")
  start_ns=$(date +%s%N)
  sleep "$seconds"
  app_end=$(cpu_ns "$app_pid")
  cava_end=$(cpu_ns "$cava_pid")
  end_ns=$(date +%s%N)
  awk -v app="$((app_end - app_start))" -v cava="$((cava_end - cava_start))" \
    -v ns="$((end_ns - start_ns))" -v target="$1" 'BEGIN {
      printf "Program CPU:     %.3f %% of one core\n", 100 * app / ns
      printf "cava CPU:        %.3f %% of one core\n", 100 * cava / ns
      printf "Ratio:           %.2f (program / cava; target at most %s)\n", app / cava, target
    }'
}
measure_cpu 0.50

# Delay: the noise stops, the steps play.
kill -TERM "$player"
wait "$player" 2>/dev/null || true
sleep 0.5
"$steps_tool" "$steps" 300 200 >"$folder/steps.txt"

# Board 2, bar 0 is the sound bar: bytes 80..119 of the 160, fields 83..122 of a line.
awk -v steps="$folder/steps.txt" '
  BEGIN { while ((getline line < steps) > 0) { split(line, f, " "); if (f[1] == "step") t[n++] = f[2] } }
  NF == 162 && $2 == "FF" {
    lit = 0
    for (i = 83; i <= 122; i++) if ($i != "00") lit++
    if (lit >= 20) loud[m++] = $1
  }
  END {
    j = 0
    for (i = 0; i < n; i++) {
      while (j < m && loud[j] < t[i]) j++
      if (j < m && loud[j] - t[i] < 0.3) d[k++] = (loud[j] - t[i]) * 1000
    }
    if (k == 0) { print "Delay:           no step reached the chain"; exit 1 }
    for (i = 0; i < k; i++) for (x = i + 1; x < k; x++) if (d[x] < d[i]) { s = d[i]; d[i] = d[x]; d[x] = s }
    p95 = int(0.95 * k + 0.999) - 1
    printf "Delay:           median %.1f ms, 95th percentile %.1f ms, max %.1f ms (%d of %d steps; target p95 <= 40 ms)\n", d[int(k / 2)], d[p95], d[k - 1], k, n
  }' "$frames"

# Bands: the first program ends (one copy per user), the noise plays again, and the
# program starts with 8 band bars on 4 boards of a second simulator. cava starts again
# too, so that both begin on the running noise: a cava that had lived through the steps
# was seen to idle at a few tenths of a percent afterwards, which made the ratio
# meaningless.
for pid in "$app_pid" "$cava_pid"; do
  kill -TERM "$pid"
  for _ in $(seq 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
done
pacat --raw --format=u8 --channels=2 --rate=44100 --device=speakers </dev/urandom &
pids+=($!)
band_link="$folder/band-chain"
start_simulator "$sim" "$band_link" --boards 4
band_bar() {
  echo "<Bar Index=\"$1\"><Input>WaveInput</Input><Prop.Band>5</Prop.Band>" \
    "<Prop.Low_frequency>$2</Prop.Low_frequency><Prop.High_frequency>$3</Prop.High_frequency></Bar>"
}
{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo "<Vorlixa><AutoUpdate>0</AutoUpdate><Ports><Port><Name>$band_link</Name>"
  echo "<Interval>25</Interval><Enabled>-1</Enabled><LEDmin>0</LEDmin><LEDmax>254</LEDmax><Controllers>"
  edges=(20 50 120 300 700 1600 3600 8000 16000)
  for board in 0 1 2 3; do
    echo "<Controller Index=\"$board\"><BarSize>40</BarSize><Bars>"
    band_bar 0 "${edges[2 * board]}" "${edges[2 * board + 1]}"
    band_bar 1 "${edges[2 * board + 1]}" "${edges[2 * board + 2]}"
    echo "</Bars></Controller>"
  done
  echo "</Controllers></Port></Ports></Vorlixa>"
} >"$folder/app/vorlixa.xml"
start_pair
echo "Bands (8 band bars on 4 boards, one source):"
measure_cpu 0.75
