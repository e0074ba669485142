#!/usr/bin/env bash
# Figure of the firewall request under Wine, printed and never asserted: with the "Orvel" service running
# in Wine's service manager against the stand-in application and the stand-in rule store, the time from
# the application writing "OpenFireWall:1" into the pipe to the last of the rules it asks for stored
# (the old rules are removed first; eight rules are added: four for the application, four for its
# plug-in). Median over runs.
# Needs a Windows build tree (default build/windows; ORVEL_BUILD_DIR to choose another).
# Usage: bench/firewall_bench.sh [runs=25]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"
source "$root/bench/bench-common.sh"
runs=${1:-25}

bench_start firewall-bench DemonService CorvaneApp SignatureCheck ResText2052 FirewallStore LockerPlugin

bench_compile "$work/firewall_bench.exe" "$root/bench/firewall_bench.cpp"

wine "$work/firewall_bench.exe" "$runs" > "$work/out.txt" 2>"$work/err.txt" || true
tr -d '\r' < "$work/out.txt" > "$work/figures.txt"

echo "Firewall request under Wine ($(wine --version 2>/dev/null))"
bench_summary "$work/figures.txt" open_ms "\"OpenFireWall:1\" written -> last of 8 rules stored" ms
bench_report_failures "$work/figures.txt"
bench_report_stderr "$work/err.txt"
