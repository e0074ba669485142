#!/usr/bin/env bash
# Where the time of a crash restart goes under Wine, printed and never asserted: medians (and the range)
# over repeated runs of each step between a broken pipe and the restarted application's start (log calls,
# settings reads and writes, the process scan, token and environment block, process creation), with the
# log off and on, and of the whole path less the prescribed 1 s wait. bench/pipe_bench.sh measures the
# same interval end to end, through the service manager and the pipe.
# Needs a Windows build tree (default build/windows; ORVEL_BUILD_DIR to choose another).
# Usage: bench/restart_breakdown_bench.sh [runs, default 15]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"
source "$root/bench/bench-common.sh"
runs=${1:-15}

bench_start restart-breakdown orvel_core CorvaneApp DemonService

bench_compile "$work/restart_breakdown_bench.exe" "$root/bench/restart_breakdown_bench.cpp"

wine "$work/restart_breakdown_bench.exe" "$runs" > "$work/out.txt"
tr -d '\r' < "$work/out.txt" > "$work/figures.txt"

echo "Steps of a crash restart under Wine ($(wine --version 2>/dev/null)); load: $(cut -d' ' -f1-3 /proc/loadavg)"
for log in off on; do
  echo "-- log $log"
  bench_summary "$work/figures.txt" "log_log_$log" "one log call"
  bench_summary "$work/figures.txt" "ini_read_log_$log" "one key of section \"Corvane\" read"
  bench_summary "$work/figures.txt" "crash_count_log_$log" "crash counter read and written"
  bench_summary "$work/figures.txt" "scan_log_$log" "KillCorvane(0), nothing running (scan)"
  bench_summary "$work/figures.txt" "token_env_log_$log" "session, user token, environment block"
  bench_summary "$work/figures.txt" "run_call_log_$log" "RunCorvane call (log, token, env, creation)"
  bench_summary "$work/figures.txt" "launch_log_$log" "RunCorvane call -> stand-in's start record"
  bench_summary "$work/figures.txt" "launch_log_${log}_entry" "RunCorvane call -> stand-in's entry"
  bench_summary "$work/figures.txt" "create_0x430_call_log_$log" "CreateProcessW call, flags 0x430"
  bench_summary "$work/figures.txt" "create_0x430_log_${log}_entry" "CreateProcessW call -> entry, flags 0x430"
  bench_summary "$work/figures.txt" "create_0x030_call_log_$log" "CreateProcessW call, no new console (0x030)"
  bench_summary "$work/figures.txt" "create_0x030_log_${log}_entry" "CreateProcessW call -> entry, 0x030"
  bench_summary "$work/figures.txt" "path_to_call_log_$log" "restart path to RunCorvane's return (no wait)"
  bench_summary "$work/figures.txt" "path_log_$log" "restart path -> start record (no wait)"
  bench_summary "$work/figures.txt" "path_log_${log}_entry" "restart path -> stand-in's entry (no wait)"
done
