#!/usr/bin/env bash
# Builds the settings fuzzer with clang (libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer on every library) and runs it for the given number of seconds (default 600).
# The install script brings clang and libclang-rt-14-dev. New inputs go to
# build/fuzz/corpus, findings to build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
seconds="${1:-600}"
build=build/fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVORLIXA_BUILD_FUZZ=ON -DVORLIXA_BUILD_TESTS=OFF -DVORLIXA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_settings -j2
mkdir -p "$build/corpus" "$build/findings"
# Leak checking is off: Qt and libxml2 keep process-wide allocations until exit.
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$build/fuzz/fuzz_settings" -max_total_time="$seconds" -max_len=1048576 -rss_limit_mb=512 \
  -timeout=10 \
  -dict=fuzz/settings.dict -artifact_prefix="$build/findings/" -print_final_stats=1 \
  "$build/corpus" fuzz/seeds
