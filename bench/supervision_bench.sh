#!/usr/bin/env bash
# Figures of the application supervision under Wine, printed and never asserted: medians (and the
# range) over repeated runs of
#   - the time from a RunCorvane call to the stand-in application's start record in its journal,
#   - the time from a KillCorvane call to the application's process having ended,
# with the time each call itself takes shown apart.
# Needs a Windows build tree (default build/windows; ORVEL_BUILD_DIR to choose another) whose sandbox
# holds the stand-in Corvane.exe.
# Usage: bench/supervision_bench.sh [runs, default 30]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"
build=$ORVEL_BUILD_DIR
runs=${1:-30}

cmake --build "$build" --target orvel_core CorvaneApp DemonService >/dev/null
bash "$root/scripts/sandbox.sh" >/dev/null

work=$(mktemp -d /tmp/orvel-supervision-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -municode -static \
  -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 \
  -I "$root/DemonService" "$root/bench/supervision_bench.cpp" \
  -L "$build/DemonService" -L "$build" -lorvel_core -lorvel_pure -lcjson \
  -lwtsapi32 -luserenv -ladvapi32 -lshell32 -lole32 -loleaut32 -lwintrust -lcrypt32 -lversion \
  -o "$work/supervision_bench.exe"

# The output goes to a file: programs that Wine starts for the prefix keep the descriptors they inherit.
wineserver -p 2>/dev/null || true
wine "$work/supervision_bench.exe" "$runs" > "$work/out.txt"
tr -d '\r' < "$work/out.txt" > "$work/figures.txt"

summary() {
  local key=$1 label=$2
  awk -v k="$key" '$1 == k { print $2 }' "$work/figures.txt" | sort -g | awk -v label="$label" '
    { v[NR] = $1 }
    END {
      if (NR == 0) { printf "%-48s no figures\n", label; exit }
      median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf "%-48s median %8.2f ms   min %8.2f   max %8.2f   (n=%d)\n", label, median, v[1], v[NR], NR
    }'
}

echo "Application supervision under Wine ($(wine --version 2>/dev/null)), $runs runs"
summary launch_ms      "RunCorvane call -> start record in the journal"
summary launch_call_ms "  RunCorvane call itself"
summary kill_ms        "KillCorvane(0) call -> process ended"
summary kill_call_ms   "  KillCorvane(0) call itself"
awk '$1 == "failures" && $2 != 0 { print "runs without a figure: " $2 }' "$work/figures.txt"
