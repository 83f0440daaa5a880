#!/usr/bin/env bash
# Installs what is needed, builds, and runs Vorlixa. Without hardware it drives the
# LED chain simulator in this terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset dev
cmake --build --preset dev
exec ./scripts/run-app-demo.sh build/dev
