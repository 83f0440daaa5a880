#!/usr/bin/env bash
# The program beside its peers, each pair side by side and started fresh in every round,
# on a desktop with a notification area (Xvfb and trayer when installed) and a private
# PulseAudio whose speakers play noise:
#   1. the program with the demo settings beside cava (40 frames/s, 20 bars): CPU ratio;
#   2. the program with the demo settings beside arecord capturing the speakers' monitor
#      in the program's format (8-bit stereo, 44100 Hz, through ALSA's pulse plugin);
#   3. the program without sound (its sound bar "Nothing") beside the minimal Qt tray
#      program (bench/minimal/minimal_qt.cpp): CPU ratio and peak memory of both; beside
#      them the minimal program once more, writing a frame a tick to a simulated chain of
#      its own: what the line alone adds;
#   4. the service vorlixad with the demo settings beside the minimal QCoreApplication
#      program with a 25 ms timer: peak memory of both.
# CPU shares come from the scheduler's accounting of all threads over SECONDS after a
# warm-up; the ratios' medians over the rounds are set against the targets. After the
# rounds, strace counts the system calls of the program without sound per tick.
# Usage: bench/peer_figures.sh [BUILD_DIR] [SECONDS] [ROUNDS]   (default build/dev, 15, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/demo-settings.sh
source scripts/demo-settings.sh
# shellcheck source=bench/bench-env.sh
source bench/bench-env.sh

build="${1:-build/dev}"
seconds="${2:-15}"
rounds="${3:-5}"
warmup=3
sim="$build/tools/sim/vorlixa-sim"
app="$build/src/vorlixa"
service="$build/src/vorlixad"
for program in "$sim" "$app" "$service"; do
  [ -x "$program" ] || { echo "peer_figures: $program not found; build first" >&2; exit 1; }
done
for tool in pulseaudio pacat pactl cava arecord; do
  command -v "$tool" >/dev/null || { echo "peer_figures: $tool missing (scripts/install-deps.sh)" >&2; exit 1; }
done

folder="$(mktemp -d "${TMPDIR:-/tmp}/vorlixa-peers-XXXXXX")"
pids=()
cleanup() {
  stop_processes
  rm -rf "$folder"
}
trap cleanup EXIT

build_minimal_programs "$folder"

start_sound_server "$folder"
start_tray_desktop
write_cava_config "$folder/cava.config"
pacat --raw --format=u8 --channels=2 --rate=44100 --device=speakers </dev/urandom &
pids+=($!)

link="$folder/chain"
start_simulator "$sim" "$link" --boards 2
writer_link="$folder/writer-chain"
start_simulator "$sim" "$writer_link" --boards 2

# The programs run as the installed ones do from a folder of their own: the settings file
# beside them.
mkdir "$folder/demo" "$folder/quiet" "$folder/service"
cp "$app" "$folder/demo/vorlixa"
cp "$app" "$folder/quiet/vorlixa"
cp "$service" "$folder/service/vorlixa"
write_demo_settings "$folder/demo/vorlixa.xml" "$link"
cp "$folder/demo/vorlixa.xml" "$folder/service/vorlixa.xml"
sed 's|<Input>WaveInput</Input>|<Input>Nothing</Input>|' "$folder/demo/vorlixa.xml" \
  >"$folder/quiet/vorlixa.xml"

cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ sum += $1 } END { printf "%d", sum }'; }
peak_mb() { awk '/^VmHWM:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
# Ends a process started by this script and waits for it (killed after 2 s).
end() {
  kill -TERM "$1" 2>/dev/null || return 0
  for _ in $(seq 40); do kill -0 "$1" 2>/dev/null || break; sleep 0.05; done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
# side_by_side PID...: after the warm-up, sets cpu[i] (% of one core over SECONDS) and mb[i]
# (peak memory) of each process, in the order given, then ends them all.
side_by_side() {
  sleep "$warmup"
  local pid i t0 t1
  local -a c0=() c1=()
  t0=$(date +%s%N)
  for pid in "$@"; do c0+=("$(cpu_ns "$pid")"); done
  sleep "$seconds"
  t1=$(date +%s%N)
  for pid in "$@"; do c1+=("$(cpu_ns "$pid")"); done
  cpu=() mb=()
  for i in "${!c0[@]}"; do
    cpu+=("$(awk -v c=$((c1[i] - c0[i])) -v t=$((t1 - t0)) 'BEGIN { printf "%.3f", 100 * c / t }')")
  done
  for pid in "$@"; do mb+=("$(peak_mb "$pid")"); done
  for pid in "$@"; do end "$pid"; done
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# The program in FOLDER, started there.
start_in() {
  (cd "$1" && exec ./vorlixa >/dev/null 2>>stderr.txt) &
  pids+=($!)
  last=$!
}

echo "Desktop: $desktop; $rounds rounds of $seconds s per pair after $warmup s"
printf "%-6s %-24s %-24s %-34s %s\n" "round" "demo / cava" "demo / arecord" \
  "no sound / minimal tray (writing)" "memory: demo, minimal tray, service, minimal core"
cava_ratios=() arecord_ratios=() quiet_ratios=() writer_ratios=() above_tray=() service_mb=()
for round in $(seq "$rounds"); do
  start_in "$folder/demo"; demo=$last
  cava -p "$folder/cava.config" >/dev/null 2>>"$folder/cava.stderr" &
  pids+=($!)
  side_by_side "$demo" $!
  cava_ratios+=("$(ratio "${cpu[0]}" "${cpu[1]}")")
  cava_line="${cpu[0]} / ${cpu[1]} = ${cava_ratios[-1]}"
  demo_mb=${mb[0]}

  start_in "$folder/demo"; demo=$last
  arecord -q -D default -f U8 -c 2 -r 44100 -t raw /dev/null 2>>"$folder/arecord.stderr" &
  pids+=($!)
  side_by_side "$demo" $!
  arecord_ratios+=("$(ratio "${cpu[0]}" "${cpu[1]}")")
  arecord_line="${cpu[0]} / ${cpu[1]} = ${arecord_ratios[-1]}"

  # The minimal program twice: as it is, and writing a frame a tick to a chain of its own.
  start_in "$folder/quiet"; quiet=$last
  "$folder/minimal-qt" >/dev/null 2>&1 &
  pids+=($!)
  minimal=$!
  "$folder/minimal-qt" "$writer_link" >/dev/null 2>&1 &
  pids+=($!)
  side_by_side "$quiet" "$minimal" $!
  quiet_ratios+=("$(ratio "${cpu[0]}" "${cpu[1]}")")
  writer_ratios+=("$(ratio "${cpu[2]}" "${cpu[1]}")")
  quiet_line="${cpu[0]} / ${cpu[1]} = ${quiet_ratios[-1]} (${cpu[2]})"
  tray_mb=${mb[1]}
  above_tray+=("$(awk -v a="$demo_mb" -v b="$tray_mb" 'BEGIN { printf "%.1f", a - b }')")

  start_in "$folder/service"; svc=$last
  "$folder/minimal-core" >/dev/null 2>&1 &
  pids+=($!)
  side_by_side "$svc" $!
  service_mb+=("${mb[0]}")
  printf "%-6s %-24s %-24s %-34s %s\n" "$round" "$cava_line" "$arecord_line" "$quiet_line" \
    "$demo_mb, $tray_mb, ${mb[0]}, ${mb[1]} MB"
done

# System calls of the program without sound per 25 ms tick, over 5 s.
start_in "$folder/quiet"; quiet=$last
sleep "$warmup"
calls="n/a"
if command -v strace >/dev/null; then
  timeout 5 strace -c -f -p "$quiet" -o "$folder/quiet.strace" 2>/dev/null || true
  calls=$(awk '$NF == "total" { printf "%.1f", $4 / 200 }' "$folder/quiet.strace")
  top=$(awk '$1 ~ /^[0-9.]+$/ && $NF != "total" && $4 >= 5 { printf "%s %.2f\n", $NF, $4 / 200 }' \
    "$folder/quiet.strace" | sort -k2 -rn | head -6 | paste -sd, -)
fi
end "$quiet"

echo "Medians of $rounds rounds, against the targets:"
echo "  demo / cava:                 $(median "${cava_ratios[@]}") (at most 0.4)"
echo "  demo / arecord:              $(median "${arecord_ratios[@]}") (at most 0.5)"
echo "  no sound / minimal tray:     $(median "${quiet_ratios[@]}") (at most 1.25)"
echo "  minimal tray writing a frame a tick / minimal tray: $(median "${writer_ratios[@]}")"
echo "  demo above the minimal tray: $(median "${above_tray[@]}") MB (at most 7)"
echo "  service:                     $(median "${service_mb[@]}") MB (at most 12)"
echo "  system calls a tick without sound: $calls (${top:-})"
