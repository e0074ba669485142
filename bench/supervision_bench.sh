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
source "$root/bench/bench-common.sh"
build=$ORVEL_BUILD_DIR
runs=${1:-30}

cmake --build "$build" --target orvel_core CorvaneApp DemonService >/dev/null
orvel_start_wine_session >/dev/null

work=$(mktemp -d /tmp/orvel-supervision-bench.XXXXXX)
trap 'orvel_end_wine_session; rm -rf "$work"' EXIT

bench_compile "$work/supervision_bench.exe" "$root/bench/supervision_bench.cpp" -municode \
  -L "$build/DemonService" -L "$build" -lorvel_core -lorvel_pure -lcjson \
  -lwtsapi32 -luserenv -ladvapi32 -lshell32 -lole32 -loleaut32 -lwintrust -lcrypt32 -lversion

wine "$work/supervision_bench.exe" "$runs" > "$work/out.txt"
tr -d '\r' < "$work/out.txt" > "$work/figures.txt"


echo "Application supervision under Wine ($(wine --version 2>/dev/null)), $runs runs"
bench_summary "$work/figures.txt" launch_ms "RunCorvane call -> start record in the journal"
bench_summary "$work/figures.txt" launch_call_ms "  RunCorvane call itself"
bench_summary "$work/figures.txt" kill_ms "KillCorvane(0) call -> process ended"
bench_summary "$work/figures.txt" kill_call_ms "  KillCorvane(0) call itself"
awk '$1 == "failures" && $2 != 0 { print "runs without a figure: " $2 }' "$work/figures.txt"
