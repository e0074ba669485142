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
bash scripts/sandbox.sh
# One wineserver for the whole run: every test executable attaches to it instead of starting its own.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
wine_rc=0
ctest --preset windows "$@" || wine_rc=$?

if [ "$native_rc" -ne 0 ] || [ "$wine_rc" -ne 0 ]; then
  echo "tests failed (native: $native_rc, wine: $wine_rc)"
  exit 1
fi
