#!/usr/bin/env bash
# Builds everything under the sanitizers and runs every test (unit, integration, interop).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
# The optimised build must stay warning-free too, and it carries the benchmarks.
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
ctest --preset asan -j "$jobs"
