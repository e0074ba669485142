#!/usr/bin/env bash
# Figures of the signature validation under Wine, printed and never asserted:
#   - the first ValidateAssemblyFile of a process (library check: signature and digest, then the load,
#     then the library's own answer) and the mean of later ones (the library's answer only);
#   - GetSignedFileHash on a large signed file, as throughput and as a ratio to sha256sum on the same
#     file and machine, with WinVerifyTrust's share (it reads the whole file too) shown apart.
# Needs a Windows build tree (default build/windows; ORVEL_BUILD_DIR to choose another).
# Usage: bench/signature_bench.sh [size of the large file in MiB, default 256]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"
source "$root/bench/bench-common.sh"
build=$ORVEL_BUILD_DIR
mib=${1:-256}

bench_start signature-bench orvel_core SignatureCheck

bench_compile "$work/signature_bench.exe" "$root/bench/signature_bench.cpp"

library="$build/sandbox/Halvex.SignatureCheck.Native.dll"
cp "$library" "$work/"
target="$build/sandbox/Corvane.exe"
[ -f "$target" ] || target="$library"

# The large file: the signed library with its signature removed, mib MiB of random data appended,
# signed again by the test publisher.
signing="$build/signing"
osslsigncode remove-signature -in "$library" -out "$work/large.unsigned" >/dev/null
head -c $((mib * 1048576)) /dev/urandom >> "$work/large.unsigned"
osslsigncode sign -certs "$signing/publisher.crt" -ac "$signing/root.crt" -key "$signing/publisher.key" \
  -h sha256 -in "$work/large.unsigned" -out "$work/large.dll" >/dev/null
rm -f "$work/large.unsigned"
bytes=$(stat -c %s "$work/large.dll")

out=$(wine "$work/signature_bench.exe" "$(winepath -w "$target")" "$(winepath -w "$work/large.dll")" | tr -d '\r')
field() { printf '%s\n' "$out" | awk -v k="$1" '$1 == k { print $2 }'; }

sha256sum "$work/large.dll" >/dev/null   # warm the cache as the bench program does
start=$(date +%s%N)
sha256sum "$work/large.dll" >/dev/null
end=$(date +%s%N)
sha_seconds=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.4f", ns / 1e9 }')
independent=$( (osslsigncode verify -CAfile "$signing/root.crt" -in "$work/large.dll" 2>/dev/null || true) |
  awk -F': *' '/Calculated message digest/ { print $2 }' | tr -d ' ')

awk -v bytes="$bytes" -v first="$(field first_validate_ms)" -v first_result="$(field first_validate_result)" \
    -v later="$(field later_validate_ms)" -v later_result="$(field later_validate_result)" \
    -v hash="$(field hash_seconds)" -v verify="$(field verify_seconds)" -v sha="$sha_seconds" \
    -v digest="$(field digest)" -v independent="$independent" 'BEGIN {
  mib = bytes / 1048576
  printf "ValidateAssemblyFile, first call (check, hash, load, answer): %8.2f ms  (result %s)\n", first, first_result
  printf "ValidateAssemblyFile, later calls (answer only), mean:       %8.2f ms  (result %s)\n", later, later_result
  printf "Large signed file: %.1f MiB\n", mib
  printf "  GetSignedFileHash:             %7.3f s  %8.1f MiB/s\n", hash, mib / hash
  printf "    of which WinVerifyTrust:     %7.3f s\n", verify
  printf "    digest part (the rest):      %7.3f s  %8.1f MiB/s\n", hash - verify, mib / (hash - verify)
  printf "  sha256sum:                     %7.3f s  %8.1f MiB/s\n", sha, mib / sha
  printf "  throughput ratio to sha256sum: GetSignedFileHash %.2f, digest part %.2f\n", sha / hash, sha / (hash - verify)
  printf "  digest equals osslsigncode'"'"'s: %s\n", (digest == independent ? "yes" : "NO (" digest " / " independent ")")
}'
