#!/usr/bin/env bash
# Shows the LED chain simulator in this terminal, driven by the moving-level example, until
# Ctrl-C. Expects a finished build.
# Usage: scripts/run-demo.sh [BUILD_DIR]   (default build/dev, relative to the repository)
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/dev}"
sim="$build/tools/sim/vorlixa-sim"
example="$build/examples/moving_level"
boards=2
link="${TMPDIR:-/tmp}/vorlixa-demo-$$"

for program in "$sim" "$example"; do
  if [ ! -x "$program" ]; then
    echo "run-demo: $program not found; build first (cmake --build --preset dev)" >&2
    exit 1
  fi
done

# The simulator gets a session of its own, so Ctrl-C reaches only the example, which then
# blanks the chain; the simulator is stopped afterwards.
setsid "$sim" --display --link "$link" --boards "$boards" &
sim_pid=$!
stop_sim() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
}
trap stop_sim EXIT

for _ in $(seq 100); do
  [ -L "$link" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "run-demo: the simulator did not start" >&2
    exit 1
  fi
  sleep 0.05
done

status=0
"$example" "$link" "$boards" || status=$?
exit "$status"
