#!/usr/bin/env bash
# Saves pictures of the port and bar setup dialogs, of the main window's pages, and of the
# live view on a simulated chain (at the default size and larger) as PNG files, drawn
# offscreen:
#   scripts/screenshots.sh [BUILD_DIR] [OUTPUT_DIR]
# BUILD_DIR defaults to build/dev, OUTPUT_DIR to BUILD_DIR/screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/dev}"
output="${2:-$build/screenshots}"
cmake --build "$build" --target vorlixa-dialogshots -j2
QT_QPA_PLATFORM=offscreen "$build/tests/vorlixa-dialogshots" "$output"
