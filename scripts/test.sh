#!/usr/bin/env bash
# README command two: installs what is missing, builds, and runs every test (native, then under Wine).
# Usage: scripts/test.sh [extra ctest arguments for the Wine run]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/setup.sh
bash scripts/build.sh

echo "== native tests (AddressSanitizer, UBSan, fuzz smoke runs)"
native_rc=0
ctest --preset native || native_rc=$?

echo "== Wine tests"
source scripts/wine-env.sh
orvel_start_wine_session
trap orvel_end_wine_session EXIT
wine_rc=0
ctest --preset windows "$@" || wine_rc=$?

if [ "$native_rc" -ne 0 ] || [ "$wine_rc" -ne 0 ]; then
  echo "tests failed (native: $native_rc, wine: $wine_rc)"
  exit 1
fi
