#!/bin/sh
# The project's test command: installs what is missing, builds everything and
# runs every test, then builds the headless parts again under AddressSanitizer
# and UndefinedBehaviorSanitizer and runs their tests there too.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
JOBS=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$JOBS"
ctest --test-dir build --output-on-failure -j "$JOBS"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON \
  -DVELMORA_BUILD_GUI=OFF -DVELMORA_BUILD_BENCH=OFF
cmake --build build-asan -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$JOBS"
