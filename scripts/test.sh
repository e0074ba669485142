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

# Each group runs in a Wine prefix of its own, several at a time (the preset's jobs; -j N overrides it).
echo "== Wine tests"
wine_rc=0
ctest --preset windows "$@" || wine_rc=$?

if [ "$native_rc" -ne 0 ] || [ "$wine_rc" -ne 0 ]; then
  echo "tests failed (native: $native_rc, wine: $wine_rc)"
  exit 1
fi
