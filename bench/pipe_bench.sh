#!/usr/bin/env bash
# Figures of the application link under Wine, printed and never asserted, with the "Orvel" service
# running in Wine's service manager against the stand-in application:
#   - the time from the pipe breaking (the application crashes without notice) to the restarted
#     application's start, less the 1000 ms wait the crash rule prescribes (median over runs), and to
#     the restarted program's entry into its own code (leaving out the stand-in's own start-up);
#   - the time from the stop control to SERVICE_STOPPED while the client waits in its read (median);
#   - the service process's CPU time over idle, connected periods (from /proc, median);
#   - the service's handle count after many connect-and-break cycles against its count after the first,
#     for plain breaks (the client reconnects) and for breaks after "hibernate" (the client is replaced).
# Needs a Windows build tree (default build/windows; ORVEL_BUILD_DIR to choose another). Takes about
# 10 minutes with the defaults.
# Usage: bench/pipe_bench.sh [restart runs=15] [stop runs=7] [idle runs=3] [idle seconds=60] [cycles=200]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"
source "$root/bench/bench-common.sh"
restart_runs=${1:-15}
stop_runs=${2:-7}
idle_runs=${3:-3}
idle_seconds=${4:-60}
cycles=${5:-200}

bench_start pipe-bench DemonService CorvaneApp SignatureCheck ResText2052

bench_compile "$work/pipe_bench.exe" "$root/bench/pipe_bench.cpp"

# User and system time of a process in ms (fields 14 and 15 of /proc/PID/stat, in clock ticks).
cpu_ms() {
  local ticks
  ticks=$(awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat")
  echo $((ticks * 1000 / $(getconf CLK_TCK)))
}

wine "$work/pipe_bench.exe" "$restart_runs" "$stop_runs" "$idle_runs" "$idle_seconds" "$cycles" \
  > "$work/out.txt" 2>"$work/err.txt" &
bench=$!

# The idle periods: read the service's CPU time at each begin and end marker that the program prints.
for run in $(seq 1 "$idle_runs"); do
  while ! grep -q "^idle_begin $run" "$work/out.txt" 2>/dev/null; do
    kill -0 "$bench" 2>/dev/null || break 2
    sleep 0.1
  done
  unix_pid=$(bench_service_unix_pid || true)
  [ -n "$unix_pid" ] || { echo "idle run $run: service process not found" >&2; continue; }
  begin_ms=$(cpu_ms "$unix_pid")
  begin_s=$(date +%s.%N)
  while ! grep -q "^idle_end $run" "$work/out.txt" 2>/dev/null; do
    kill -0 "$bench" 2>/dev/null || break 2
    sleep 0.1
  done
  end_ms=$(cpu_ms "$unix_pid")
  end_s=$(date +%s.%N)
  awk -v c=$((end_ms - begin_ms)) -v a="$begin_s" -v b="$end_s" \
    'BEGIN { printf "idle_cpu_ms %d\nidle_window_s %.2f\n", c, b - a }' >> "$work/cpu.txt"
  echo "idle_unix_pid $unix_pid" >> "$work/cpu.txt"
done
wait "$bench" || true

# (No cpu.txt when no idle period was asked for.)
cat "$work/out.txt" $([ -f "$work/cpu.txt" ] && echo "$work/cpu.txt") | tr -d '\r' > "$work/figures.txt"

value() { awk -v k="$1" '$1 == k { printf "%d", $2 }' "$work/figures.txt"; }

echo "Application link under Wine ($(wine --version 2>/dev/null))"
bench_summary "$work/figures.txt" restart_ms "pipe break -> restarted start, less the 1000 ms wait" ms
bench_summary "$work/figures.txt" restart_entry_ms "  ... to the restarted program's entry, less the wait" ms
bench_summary "$work/figures.txt" restart_standin_ms "  (the stand-in's own start-up before its record)" ms
bench_summary "$work/figures.txt" stop_ms "stop control -> SERVICE_STOPPED, connected" ms
bench_summary "$work/figures.txt" idle_cpu_ms "service CPU time over ${idle_seconds} s connected and idle" ms
bench_summary "$work/figures.txt" idle_window_s "  (measured window)" s
for kind in handles handles_replaced; do
  label="plain breaks (the client reconnects)"
  [ "$kind" = handles_replaced ] && label="breaks after \"hibernate\" (a new client each time)"
  first=$(value "${kind}_after_first")
  last=$(value "${kind}_after_last")
  n=$(value "${kind}_cycles")
  if [ -n "$first" ] && [ -n "$last" ]; then
    printf '%-58s after cycle 1: %d   after cycle %d: %d   (GetProcessHandleCount says %s)\n' \
      "service handles, $label" "$first" "$n" "$last" "$(value "${kind}_after_last_reported")"
  else
    printf '%-58s no figures\n' "service handles, $label"
  fi
done
bench_report_failures "$work/figures.txt"
bench_report_stderr "$work/err.txt"
