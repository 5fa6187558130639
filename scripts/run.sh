#!/usr/bin/env bash
# Builds the optimised tree and runs the system's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
exec build/release/tests/integration/ptp_scenario "$@"
