#!/usr/bin/env bash
# Builds everything under the sanitizers and optimised, runs every test (unit, integration,
# interop) in both trees, and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
# The optimised build must stay warning-free too, and it carries the benchmarks.
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
# The fuzz targets need clang; only they and what they link are built there.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz
ctest --preset asan -j "$jobs"
# The optimised tree is the one the main job runs: its timing is not the sanitizers', and neither
# are the faults it shows (a freed address reused at once, a wake-up that comes first).
ctest --preset release -j "$jobs"
