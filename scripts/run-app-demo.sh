#!/usr/bin/env bash
# Runs the tray application on the LED chain simulator, drawn live in this terminal, until
# Ctrl-C: two boards whose bars run "KnightRider", "CPUUsage", "WaveInput" and "Nothing".
# Expects a finished build.
# Usage: scripts/run-app-demo.sh [BUILD_DIR]   (default build/dev, relative to the repository)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/demo-settings.sh
source scripts/demo-settings.sh

build="${1:-build/dev}"
sim="$build/tools/sim/vorlixa-sim"
app="$build/src/vorlixa"
boards=2

for program in "$sim" "$app"; do
  if [ ! -x "$program" ]; then
    echo "run-app-demo: $program not found; build first (cmake --build --preset dev)" >&2
    exit 1
  fi
done

# The program keeps its settings and its log beside its file, so it runs as a copy in a
# folder of its own (a symbolic link would resolve to the build folder).
folder="$(mktemp -d "${TMPDIR:-/tmp}/vorlixa-app-demo-XXXXXX")"
link="$folder/chain"
cp "$app" "$folder/vorlixa"
write_demo_settings "$folder/vorlixa.xml" "$link"

# The simulator gets a session of its own, so Ctrl-C reaches only the program, which then
# blanks the chain; the simulator is stopped afterwards.
setsid "$sim" --display --link "$link" --boards "$boards" &
sim_pid=$!
finish() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  echo "run-app-demo: the program's log and messages stay in $folder"
}
trap finish EXIT

for _ in $(seq 100); do
  [ -L "$link" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "run-app-demo: the simulator did not start" >&2
    exit 1
  fi
  sleep 0.05
done

# Without a desktop the program runs off screen; it still drives the chain.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
fi
status=0
# Its messages would tear the simulator's drawing apart; they go to a file.
"$folder/vorlixa" 2>"$folder/stderr.txt" >/dev/null || status=$?
exit "$status"
