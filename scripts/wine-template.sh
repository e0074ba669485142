#!/usr/bin/env bash
# Lays out the sandbox once for a test run, in the template prefix that every Wine test group's prefix is
# copied from (scripts/wine-group.sh). Both live in the build tree's wineprefixes/ folder:
#   base/      a bare prefix, made by wineboot once and kept across runs
#   template/  a copy of base/ with this build's sandbox laid out, made again on every run
# ctest runs this first, as the fixture that every Wine test group requires.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${ORVEL_BUILD_DIR:=$root/build/windows}"
prefixes="$ORVEL_BUILD_DIR/wineprefixes"

# Each step ends with its prefix's server gone, so that the registry is on disk before the prefix is copied.
export ORVEL_WINEPREFIX="$prefixes/base"
(
  source "$root/scripts/wine-env.sh"
  wineserver -k 2>/dev/null || true
  bash "$root/scripts/sandbox.sh" --prefix-only
  wineserver -w
)

export ORVEL_WINEPREFIX="$prefixes/template"
source "$root/scripts/wine-env.sh"
wineserver -k 2>/dev/null || true
orvel_copy_prefix "$prefixes/base" "$WINEPREFIX"
bash "$root/scripts/sandbox.sh"
wineserver -w
echo "template prefix ready: $WINEPREFIX"
