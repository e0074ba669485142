#!/usr/bin/env bash
# Figures of the service host, printed and never asserted:
#   - the size of DemonService.exe;
#   - under Wine, medians of StartService -> RUNNING and of the stop control -> STOPPED;
#   - the service process's CPU time over a minute of idling (no application serving the pipe);
#   - with --full, the wall time of the README's test command from a clean build tree.
# Usage: bench/host_bench.sh [runs, default 10] [--full]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=10
full=0
for arg in "$@"; do
  case "$arg" in
    --full) full=1 ;;
    *) runs=$arg ;;
  esac
done

if [ "$full" = 1 ]; then
  rm -rf "$root/build"
  start=$(date +%s)
  bash "$root/scripts/test.sh" > /tmp/orvel-host-bench-test.log 2>&1 || echo "(the test command failed: /tmp/orvel-host-bench-test.log)"
  echo "README test command from a clean build tree: $(( $(date +%s) - start )) s wall"
fi

source "$root/scripts/wine-env.sh"
source "$root/bench/bench-common.sh"
build=$ORVEL_BUILD_DIR
cmake --build "$build" --target DemonService CorvaneApp >/dev/null
orvel_start_wine_session >/dev/null
trap 'orvel_end_wine_session; rm -rf "$work"' EXIT
work=$(mktemp -d /tmp/orvel-host-bench.XXXXXX)

bench_compile "$work/host_bench.exe" "$root/bench/host_bench.cpp"

exe="$build/sandbox/DemonService.exe"
echo "DemonService.exe: $(stat -c %s "$exe") bytes ($(( $(stat -c %s "$exe") / 1024 )) KiB), statically linked"

install_dir="$WINEPREFIX/drive_c/Program Files/Corvane"
(cd "$install_dir" && wine DemonService.exe -remove >/dev/null 2>&1 || true)
(cd "$install_dir" && wine DemonService.exe -install >/dev/null 2>&1)
wine sc stop Orvel >/dev/null 2>&1 || true
sleep 4
wine "$work/host_bench.exe" "$runs" > "$work/out.txt"

# CPU time of the idle service, read from the kernel's own accounting of the Wine process.
wine sc start Orvel >/dev/null 2>&1
sleep 3
pid=$(pgrep -f 'Corvane.DemonService\.exe$' | head -n1)
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
if [ -n "$pid" ]; then
  before=$(ticks "$pid")
  sleep 60
  after=$(ticks "$pid")
  echo "idle_cpu_ms $(( (after - before) * 1000 / hz ))" >> "$work/out.txt"
  echo "idle_seconds 60" >> "$work/out.txt"
fi
(cd "$install_dir" && wine DemonService.exe -remove >/dev/null 2>&1 || true)
tr -d '\r' < "$work/out.txt" > "$work/figures.txt"

echo "Service host under Wine ($(wine --version 2>/dev/null)), $runs start/stop cycles"
bench_summary "$work/figures.txt" start_ms "StartService -> RUNNING"
bench_summary "$work/figures.txt" stop_ms "stop control -> STOPPED"
awk '$1 == "idle_cpu_ms" { cpu = $2 } $1 == "idle_seconds" { s = $2 }
     END { if (s) printf "CPU time over %d s idle: %.0f ms (%.3f %% of one core; kernel accounting, %s ticks/s)\n", s, cpu, cpu / (s * 10), hz }' hz="$hz" "$work/figures.txt"
grep '^error' "$work/figures.txt" || true
