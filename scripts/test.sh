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
# A server left from an earlier run would hold the prefix: start from none, lay out the sandbox, and
# wait until the short-lived server that did it has gone.
wineserver -k 2>/dev/null || true
bash scripts/sandbox.sh
wineserver -w
# One wineserver for the whole run: every test executable attaches to it instead of starting its own.
wineserver -p >/dev/null 2>&1
# Wine's own background programs start with the first program and would inherit ctest's output pipe:
# start them now, outside it.
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
wine_rc=0
ctest --preset windows "$@" || wine_rc=$?

if [ "$native_rc" -ne 0 ] || [ "$wine_rc" -ne 0 ]; then
  echo "tests failed (native: $native_rc, wine: $wine_rc)"
  exit 1
fi
