#!/usr/bin/env bash
# The service over a long run under Wine, printed and never asserted, with the "Orvel" service running in
# Wine's service manager against the stand-in application:
#   - its handle count and private memory after 1 000 connect-and-break cycles against after the first;
#   - the same after 10 000 random messages (random bytes and mutated commands, none of them a command)
#     written into the pipe by the stand-in;
#   - that it still runs as the same process and did nothing but log the messages and reconnect.
# Handles are counted by probing the service's handle values (Wine's GetProcessHandleCount answers 0 for
# another process) and, from Linux, as the Unix process's open descriptors; private memory as Wine reports
# it and as Linux counts it (Private_Clean + Private_Dirty of /proc/PID/smaps_rollup).
# Needs a Windows build tree (default build/windows; ORVEL_BUILD_DIR to choose another; ORVEL_WINEPREFIX
# to run in a prefix of its own). Takes about 40 minutes with the defaults.
# Usage: bench/soak_bench.sh [cycles=1000] [messages=10000] [seed=9]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"
source "$root/bench/bench-common.sh"
cycles=${1:-1000}
messages=${2:-10000}
seed=${3:-9}

bench_start soak-bench DemonService CorvaneApp SignatureCheck ResText2052
mkdir -p "$work/markers"

bench_compile "$work/soak_bench.exe" "$root/bench/soak_bench.cpp"

wine "$work/soak_bench.exe" "$cycles" "$messages" "$seed" "Z:${work//\//\\}\\markers" \
  > "$work/out.txt" 2>"$work/err.txt" &
bench=$!

# At each mark the program waits until Linux's view of the service has been read.
for mark in after_first_cycle after_last_cycle after_messages; do
  while ! grep -q "^mark $mark" "$work/out.txt" 2>/dev/null; do
    kill -0 "$bench" 2>/dev/null || break 2
    sleep 0.2
  done
  unix_pid=$(bench_service_unix_pid || true)
  if [ -n "$unix_pid" ]; then
    echo "${mark}_unix_fds $(ls "/proc/$unix_pid/fd" | wc -l)" >> "$work/linux.txt"
    awk -v m="$mark" '/^Private_(Clean|Dirty):/ { kib += $2 } END { printf "%s_unix_private_kib %d\n", m, kib }' \
      "/proc/$unix_pid/smaps_rollup" >> "$work/linux.txt"
    awk -v m="$mark" '/^VmRSS:/ { printf "%s_unix_rss_kib %d\n", m, $2 }' "/proc/$unix_pid/status" >> "$work/linux.txt"
  else
    echo "$mark: service process not found" >&2
  fi
  touch "$work/markers/$mark"
done
wait "$bench" || true

cat "$work/out.txt" "$work/linux.txt" 2>/dev/null | tr -d '\r' > "$work/figures.txt"
value() { awk -v k="$1" '$1 == k { printf "%g", $2 }' "$work/figures.txt"; }

echo "The service over a long run under Wine ($(wine --version 2>/dev/null)); load: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-44s %14s %16s %16s\n' "" "after cycle 1" "after cycle $(value cycles_done)" "after $(value messages_sent) msgs"
# (Wine reports no private bytes of another process; Linux's count of the Unix process stands for them.)
for figure in handles unix_fds unix_private_kib working_set_kib unix_rss_kib; do
  printf '%-44s %14s %16s %16s\n' "$figure" "$(value after_first_cycle_$figure)" \
    "$(value after_last_cycle_$figure)" "$(value after_messages_$figure)"
done
echo "cycles: $(value cycles_done) in $(value cycles_seconds) s; messages: $(value messages_sent)" \
  "($(value messages_mutated_commands) mutated commands; $(value candidates_refused_as_commands) candidates" \
  "refused as commands) in $(value messages_seconds) s"
echo "service still running as the same process: $(value service_running); application still running: $(value app_still_running)"
echo "log: $(value log_bytes) bytes; ReadFile fail $(value log_readfile_fail), verified $(value log_validated)," \
  "StartClient $(value log_startclient), OnClientThreadExit $(value log_onclientthreadexit)," \
  "crash rule $(value log_crash_rule), RunCorvane $(value log_runcorvane), kills $(value log_killcorvane)," \
  "crash notices $(value log_cva_crash), exit notices $(value log_exit_notice); crash counter written: $(value crash_counter_written)"
awk '$1 == "failures" && $2 != 0 { print "the run stopped early: " $2 " failure(s)" }' "$work/figures.txt"
bench_report_stderr "$work/err.txt"
