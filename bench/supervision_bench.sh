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
runs=${1:-30}

bench_start supervision-bench orvel_core CorvaneApp DemonService

bench_compile "$work/supervision_bench.exe" "$root/bench/supervision_bench.cpp"

wine "$work/supervision_bench.exe" "$runs" > "$work/out.txt"
tr -d '\r' < "$work/out.txt" > "$work/figures.txt"


echo "Application supervision under Wine ($(wine --version 2>/dev/null)), $runs runs"
bench_summary "$work/figures.txt" launch_ms "RunCorvane call -> start record in the journal"
bench_summary "$work/figures.txt" launch_call_ms "  RunCorvane call itself"
bench_summary "$work/figures.txt" kill_ms "KillCorvane(0) call -> process ended"
bench_summary "$work/figures.txt" kill_call_ms "  KillCorvane(0) call itself"
bench_report_failures "$work/figures.txt"
