#!/usr/bin/env bash
# Configures and builds both trees: the Windows cross build and the native build of the pure logic.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
jobs=${ORVEL_JOBS:-2}
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
