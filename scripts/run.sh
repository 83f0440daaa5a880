#!/usr/bin/env bash
# Installs what is needed, builds, and runs Vorlixa. Without hardware it drives the
# LED chain simulator in this terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset dev
# Only what the demo runs: the program and the simulator. The tests, benchmarks and tools
# build with scripts/test.sh (or a plain "cmake --build --preset dev").
cmake --build --preset dev --target vorlixa vorlixa-sim
exec ./scripts/run-app-demo.sh build/dev
