#!/usr/bin/env bash
# Installs what is needed, builds with warnings as errors, runs every test and then
# clang-tidy, which fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
./scripts/format-check.sh
cmake --preset ci
cmake --build --preset ci
ctest --preset ci
./scripts/tidy.sh build/ci
