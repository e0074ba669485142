#!/usr/bin/env bash
# Figures of the shell integration under Wine, printed and never asserted: medians (and the range) over
# repeated runs of
#   - the wall time of "DemonService.exe -runCorvane" (its 2 s pause included) with the stand-in shell
#     window running (whose token, high as every Wine process, is checked and refused: nothing starts),
#     against a bare start of the same stand-in application;
#   - the time that the menu and friendly-name updates add to a service start;
#   - the time that RemoveContextMenus (1 034 deletions) adds to the stop sequence.
# Needs a Windows build tree (default build/windows; ORVEL_BUILD_DIR to choose another).
# Usage: bench/shell_bench.sh [runs, default 10]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"
source "$root/bench/bench-common.sh"
build=$ORVEL_BUILD_DIR
runs=${1:-10}

bench_start shell-bench orvel_core CorvaneApp DemonService ShellWindow

bench_compile "$work/shell_bench.exe" "$root/bench/shell_bench.cpp"

wine "$work/shell_bench.exe" "$(winepath -w "$build/testdata/ShellWindow.exe" 2>/dev/null)" "$runs" > "$work/out.txt"
tr -d '\r' < "$work/out.txt" > "$work/figures.txt"

echo "Shell integration under Wine ($(wine --version 2>/dev/null)), $runs runs"
bench_summary "$work/figures.txt" runcorvane_ms "DemonService.exe -runCorvane, start to end (2 s pause incl.; shell token refused)"
bench_summary "$work/figures.txt" bare_ms "bare CreateProcessW of the stand-in -> its start record"
bench_summary "$work/figures.txt" menus_ms "menu + friendly-name updates (added to a service start)"
bench_summary "$work/figures.txt" remove_empty_ms "RemoveContextMenus, none of the 1 034 keys present"
bench_summary "$work/figures.txt" remove_full_ms "RemoveContextMenus, all 1 034 keys present"
bench_report_failures "$work/figures.txt"
