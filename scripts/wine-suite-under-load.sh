#!/usr/bin/env bash
# Runs the Wine test suite several times in a row with a CPU hog on every core, and names every
# GoogleTest case that failed at least once, with its failure message, after a summary of each run.
# Nothing is retried and nothing is skipped: a case that fails once under load is a fault to find, in
# the product or in the test.
#
# Usage: scripts/wine-suite-under-load.sh [-n RUNS] [-R REGEX] [-j JOBS] [--no-hog]
#   -n RUNS    how many runs (default 5)
#   -R REGEX   only the Wine groups that ctest -R picks (default: the whole suite)
#   -j JOBS    groups side by side (default: the test preset's)
#   --no-hog   no CPU hog (to compare with a quiet machine)
# The Windows tree is built first. Each run's ctest output (ctest.out), the whole output of every group
# (LastTest.log) and, for a failed group, what its services wrote (<group>.services-stderr.log) stay in
# build/windows/suite-runs/<date-time>/run-<i>/. Exit code 0 when every run
# passed, 1 otherwise.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

runs=5
regex=""
jobs=""
hog=1
while [ $# -gt 0 ]; do
  case "$1" in
    -n) runs=$2; shift 2 ;;
    -R) regex=$2; shift 2 ;;
    -j) jobs=$2; shift 2 ;;
    --no-hog) hog=0; shift ;;
    *) echo "usage: $0 [-n RUNS] [-R REGEX] [-j JOBS] [--no-hog]" >&2; exit 2 ;;
  esac
done

build="$root/build/windows"
cmake --preset windows >/dev/null || exit 2
cmake --build --preset windows -j "${ORVEL_JOBS:-2}" >/dev/null || { echo "build failed" >&2; exit 2; }

out="$build/suite-runs/$(date +%Y%m%d-%H%M%S)"
mkdir -p "$out"

# One busy loop per core, at the tests' own priority; each is ended by its id when the script ends.
hogs=()
end_hogs() {
  local pid
  for pid in "${hogs[@]}"; do
    kill "$pid" 2>/dev/null
  done
  wait "${hogs[@]}" 2>/dev/null
}
trap end_hogs EXIT
if [ "$hog" -eq 1 ]; then
  for _ in $(seq "$(nproc)"); do
    bash -c 'while :; do :; done' &
    hogs+=($!)
  done
fi

ctest_args=(--preset windows)
[ -n "$jobs" ] && ctest_args+=(-j "$jobs")
[ -n "$regex" ] && ctest_args+=(-R "$regex")
echo "== $runs runs of: ctest ${ctest_args[*]}   (CPU hog: ${#hogs[@]} busy loops on $(nproc) cores)"
echo "   output kept in $out"

# failures.txt collects "run<TAB>case<TAB>message line" for the summary over all runs.
: >"$out/failures.txt"
failed_runs=0
for run in $(seq "$runs"); do
  dir="$out/run-$run"
  mkdir -p "$dir"
  begin=$(date +%s)
  ctest "${ctest_args[@]}" >"$dir/ctest.out" 2>&1
  rc=$?
  seconds=$(($(date +%s) - begin))
  cp -f "$build/Testing/Temporary/LastTest.log" "$dir/LastTest.log" 2>/dev/null

  # The groups ctest counts as failed, with its reason: "name (Failed)", "name (Timeout)", ...
  failed_groups=$(sed -n '/The following tests FAILED:/,$p' "$dir/ctest.out" |
    sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (\(.*\))$/\1 (\2)/p' | paste -sd ' ')
  summary=$(grep -E '^[0-9]+% tests passed' "$dir/ctest.out" | tail -1)
  # Cases GoogleTest ran and passed, over every group.
  cases=$(awk '/^\[  PASSED  \] [0-9]+ test/ { n += $4 } END { print n + 0 }' "$dir/LastTest.log")
  [ "$rc" -ne 0 ] && failed_runs=$((failed_runs + 1))
  echo "-- run $run: ${summary:-no summary (ctest exit $rc)}; $cases cases passed; ${seconds} s"

  # Every failed case of every group: the lines GoogleTest prints between its [ RUN ] and [ FAILED ]
  # lines (the failure's place and message), and a case that never finished (a group that timed out
  # or crashed) with the group's last lines.
  awk -v run="$run" -v failures="$out/failures.txt" -v failed_groups="$failed_groups" '
    function record(name, text) { printf "%s\t%s\t%s\n", run, name, text >> failures }
    function tail_of_group(label,    i) {
      printf "   %s; last lines of group %s:\n", label, group
      for (i = (lines > 8 ? lines - 7 : 1); i <= lines; i++) printf "      | %s\n", all[i]
    }
    /^[0-9]+\/[0-9]+ Test: / { group = $3; current = ""; n = 0; lines = 0; reported = 0; next }
    /^<end of output>$/ {
      if (current != "") {
        tail_of_group(current " did not finish")
        record(current, "did not finish in group " group)
        reported = 1
      } else if (!reported && index(" " failed_groups " ", " " group " (") > 0) {
        tail_of_group("no failed case named")
        record(group, "group failed: " all[lines])
      }
      current = ""; n = 0; next
    }
    /^Output:$/ { lines = 0; header = 1; next }
    header && /^-+$/ { header = 0; next }
    { header = 0; all[++lines] = $0 }
    /^\[ RUN      \] / { current = $4; n = 0; next }
    /^\[       OK \] / { current = ""; n = 0; next }
    /^\[  FAILED  \] [^ ]+ \([0-9]+ ms\)$/ {
      printf "   %s (group %s)\n", $4, group
      shown = 0
      for (i = 1; i <= n; i++) {
        if (body[i] ~ /^[[:space:]]*$/) continue
        if (++shown <= 24) printf "      | %s\n", body[i]
        record($4, body[i])
      }
      if (shown > 24) printf "      | ... (%d more lines)\n", shown - 24
      current = ""; n = 0; reported = 1; next
    }
    current != "" { body[++n] = $0 }
  ' "$dir/LastTest.log"
  if [ -n "$failed_groups" ]; then
    echo "   failed groups: $failed_groups"
    # What the services of a failed group wrote (the event log's channel among it), before the next run
    # makes the group's prefix afresh.
    for group in $(echo "$failed_groups" | grep -o '[^ ]* (' | tr -d ' ('); do
      cp -f "$build/wineprefixes/$group/services-stderr.log" "$dir/$group.services-stderr.log" 2>/dev/null
    done
  fi
done

echo "== summary over $runs runs: $((runs - failed_runs)) passed, $failed_runs failed"
if [ ! -s "$out/failures.txt" ]; then
  echo "no case failed"
else
  # Each case that failed at least once: in how many runs, which, and its first message (the lines of
  # the first run it failed in).
  awk -F'\t' -v runs="$runs" '
    { if (!(($2, $1) in seen)) { seen[$2, $1] = 1; count[$2]++; which[$2] = which[$2] (which[$2] == "" ? "" : ",") $1 }
      if (!($2 in firstrun)) { firstrun[$2] = $1; order[++cases] = $2 }
      if ($1 == firstrun[$2] && lines[$2]++ < 12) message[$2] = message[$2] "      | " $3 "\n" }
    END {
      for (i = 1; i <= cases; i++) {
        c = order[i]
        printf "%s: failed in %d of %d runs (run %s)\n%s", c, count[c], runs, which[c], message[c]
      }
    }' "$out/failures.txt"
fi
[ "$failed_runs" -eq 0 ]
