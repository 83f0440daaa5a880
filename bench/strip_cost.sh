#!/usr/bin/env bash
# What a network strip costs beside cava, on the same real-time source: a private
# PulseAudio whose null sink "speakers" is the default output, vorlixa-tonesteps playing
# 25 to 50 ms of silence and 25 ms of full-scale noise by turns into it, so that the bars
# rise and fall nearly every tick, as with drums (steady noise would pin them at full, and
# an unchanged strip only gets its keep-alive frame once a second). The program drives a 300-pixel DDP strip (four boards: 80 + 80 + 80 + 60 pixels)
# whose first two bars show the sound level of what the speakers play, into the
# simulator's DDP listener on 127.0.0.1; cava (40 frames/s, 20 bars, raw output to
# /dev/null) captures the same monitor. Both run side by side for SECONDS, in a
# notification area when Xvfb and trayer are installed; their CPU time comes from the
# scheduler's accounting of all their threads. Prints both shares and the ratio, and how
# many frames the listener received a second.
# Usage: bench/strip_cost.sh [BUILD_DIR] [SECONDS]   (default build/dev, 20)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-env.sh
source bench/bench-env.sh

build="${1:-build/dev}"
seconds="${2:-20}"
sim="$build/tools/sim/vorlixa-sim"
app="$build/src/vorlixa"
steps_tool="$build/tools/tonesteps/vorlixa-tonesteps"
warmup=2
for program in "$sim" "$app" "$steps_tool"; do
  [ -x "$program" ] || { echo "strip_cost: $program not found; build first" >&2; exit 1; }
done
for tool in pulseaudio pacat pactl cava; do
  command -v "$tool" >/dev/null || { echo "strip_cost: $tool missing (scripts/install-deps.sh)" >&2; exit 1; }
done

folder="$(mktemp -d "${TMPDIR:-/tmp}/vorlixa-strip-XXXXXX")"
pids=()
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

# About 16 steps a second, for longer than the run.
"$steps_tool" $((16 * (seconds + warmup + 5))) 25 25 >/dev/null &
pids+=($!)

port=$((20000 + RANDOM % 20000))
frames="$folder/frames.log"
"$sim" --listen ddp --port "$port" --no-display --log "$frames" >/dev/null 2>&1 &
pids+=($!)

# What the speakers play, left and right: the VU meter of a strip.
sound() { echo "<Input>WaveInput</Input><Prop.Source>1</Prop.Source><Prop.Channel>$1</Prop.Channel>"; }
board() {  # board INDEX BARSIZE BAR0 BAR1 (the bars' inner XML)
  echo "<Controller Index=\"$1\"><BarSize>$2</BarSize><Bars>" \
    "<Bar Index=\"0\">$3</Bar><Bar Index=\"1\">$4</Bar></Bars></Controller>"
}
{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo "<Vorlixa><AutoUpdate>0</AutoUpdate><Ports><Port><Name>ddp://127.0.0.1:$port</Name>"
  echo "<Interval>25</Interval><Enabled>-1</Enabled><LEDmin>0</LEDmin><LEDmax>254</LEDmax><Controllers>"
  nothing="<Input>Nothing</Input>"
  board 0 40 "$(sound 1)" "$(sound 2)"
  board 1 40 "$nothing" "$nothing"
  board 2 40 "$nothing" "$nothing"
  board 3 30 "$nothing" "$nothing"
  echo "</Controllers></Port></Ports></Vorlixa>"
} >"$folder/app/vorlixa.xml"
cp "$app" "$folder/app/vorlixa"
"$folder/app/vorlixa" >/dev/null 2>>"$folder/app/stderr.txt" &
app_pid=$!
pids+=("$app_pid")
cava -p "$folder/cava/config" >/dev/null 2>>"$folder/cava/stderr.txt" &
cava_pid=$!
pids+=("$cava_pid")
sleep "$warmup"
for pid in "$app_pid" "$cava_pid"; do
  kill -0 "$pid" 2>/dev/null || { echo "strip_cost: process $pid ended early" >&2; exit 1; }
done

cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ sum += $1 } END { printf "%d", sum }'; }
app_start=$(cpu_ns "$app_pid")
cava_start=$(cpu_ns "$cava_pid")
lines_start=$(wc -l <"$frames" 2>/dev/null || echo 0)
start_ns=$(date +%s%N)
sleep "$seconds"
app_end=$(cpu_ns "$app_pid")
cava_end=$(cpu_ns "$cava_pid")
lines_end=$(wc -l <"$frames" 2>/dev/null || echo 0)
end_ns=$(date +%s%N)
awk -v app="$((app_end - app_start))" -v cava="$((cava_end - cava_start))" \
  -v ns="$((end_ns - start_ns))" -v frames="$((lines_end - lines_start))" 'BEGIN {
    printf "Program CPU:     %.3f %% of one core (300-pixel DDP strip, two sound bars)\n", 100 * app / ns
    printf "cava CPU:        %.3f %% of one core\n", 100 * cava / ns
    printf "Ratio:           %.2f (program / cava; target at most 0.5)\n", app / cava
    printf "Frames received: %.1f a second\n", frames / (ns / 1e9)
  }'
