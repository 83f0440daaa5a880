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
mkdir -p "$build/corpus" "$build/findings" "$build/seeds-large"

# Large seeds, so that large inputs are in reach from the start: a document type that
# declares an entity referenced throughout 400 KB, and a port with more boards than a
# chain can take.
large="$build/seeds-large"
{
  printf '<?xml version="1.0"?><!DOCTYPE Vorlixa [<!ENTITY e "%s">]><Vorlixa><Ports><Port><Name>' \
    "$(head -c 10000 /dev/zero | tr '\0' x)"
  printf '&e;%.0s' $(seq 130000)
  printf '</Name><Interval>25</Interval><Enabled>0</Enabled></Port></Ports></Vorlixa>\n'
} >"$large/entities.xml"
{
  printf '<?xml version="1.0"?><Vorlixa><AutoUpdate>0</AutoUpdate><Ports><Port><Name>/dev/null</Name>'
  printf '<Interval>25</Interval><Enabled>-1</Enabled><Controllers>'
  for i in $(seq 0 420); do
    printf '<Controller Index="%d"><BarSize>40</BarSize><Bars><Bar Index="0"><Input>KnightRider</Input>' "$i"
    printf '<Prop.Offset>%d</Prop.Offset></Bar><Bar Index="1"><Input>CPUUsage</Input></Bar></Bars></Controller>' "$i"
  done
  printf '</Controllers></Port></Ports></Vorlixa>\n'
} >"$large/fullchain.xml"

# Leak checking is off: Qt and libxml2 keep process-wide allocations until exit. The
# sanitizer's quarantine of freed memory is kept to 64 MB (256 by default), so that the
# 512 MB limit measures the program and not the sanitizer.
ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=64 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$build/fuzz/fuzz_settings" -max_total_time="$seconds" -max_len=1048576 -rss_limit_mb=512 \
  -timeout=10 \
  -dict=fuzz/settings.dict -artifact_prefix="$build/findings/" -print_final_stats=1 \
  "$build/corpus" fuzz/seeds "$large"
