#!/bin/sh
# The project's test command: installs what is missing, builds everything and
# runs every test, then builds the headless parts again under AddressSanitizer
# and UndefinedBehaviorSanitizer and runs their tests there too. Both builds
# treat compiler warnings as errors (the release and asan presets of
# CMakePresets.json).
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
JOBS=$(nproc 2>/dev/null || echo 2)

cmake --preset release
cmake --build --preset release -j "$JOBS"
ctest --preset release -j "$JOBS"

cmake --preset asan
cmake --build --preset asan -j "$JOBS"
ctest --preset asan -j "$JOBS"
