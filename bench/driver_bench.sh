#!/usr/bin/env bash
# Figures of the driver installation under Wine, printed and never asserted:
#   - from the "InstallCameraDriver" message written into the pipe by the stand-in application to both
#     devcon starts journaled by the installers' stand-in, with the "Orvel" service running (median);
#   - the validation cost per installer start with the library already loaded: ValidateAssemblyFile
#     alone, and with the check-then-start hold around it (nothing started), over the three installers.
# Needs a Windows build tree (default build/windows; ORVEL_BUILD_DIR to choose another).
# Usage: bench/driver_bench.sh [camera runs=15] [validation calls per installer=50]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"
source "$root/bench/bench-common.sh"
build=$ORVEL_BUILD_DIR
camera_runs=${1:-15}
validation_runs=${2:-50}

bench_start driver-bench DemonService CorvaneApp SignatureCheck ResText2052 \
  devconStandIn CvDiskBridgeStandIn DisplayDriverSetup64StandIn

bench_compile "$work/driver_bench.exe" "$root/bench/driver_bench.cpp"
cp "$build/sandbox/Halvex.SignatureCheck.Native.dll" "$work/"

wine "$work/driver_bench.exe" "$camera_runs" "$validation_runs" 2>"$work/err.txt" | tr -d '\r' > "$work/figures.txt" || true

echo "Driver installation under Wine ($(wine --version 2>/dev/null))"
bench_summary "$work/figures.txt" camera_ms "\"InstallCameraDriver\" written -> both devcon starts journaled" ms
bench_summary "$work/figures.txt" camera_first_ms "  (-> the first of them)" ms
bench_summary "$work/figures.txt" validate_ms "ValidateAssemblyFile per installer, library loaded" ms
bench_summary "$work/figures.txt" held_validate_ms "  with the check-then-start hold around it" ms
bench_report_failures "$work/figures.txt"
bench_report_stderr "$work/err.txt"
