# Sourced by the benchmark scripts, after scripts/wine-env.sh: building and running a benchmark program
# in a Wine session of its own, and reporting its figures.

# bench_compile OUT SOURCE: the benchmark program of SOURCE (bench/<name>.cpp), as the Windows
# tree builds it (bench/CMakeLists.txt: with the service's libraries and the Wine tests' harness), copied to OUT.
bench_compile() {
  local out=$1 name
  name=$(basename "$2" .cpp)
  cmake --build "$ORVEL_BUILD_DIR" --target "$name" >/dev/null
  cp -f "$ORVEL_BUILD_DIR/bench/$name.exe" "$out"
}

# bench_summary FIGURES KEY LABEL [UNIT]: median, minimum and maximum of the values of KEY in a file of
# "key value" lines.
bench_summary() {
  local figures=$1 key=$2 label=$3 unit=${4:-ms}
  awk -v k="$key" '$1 == k && $2 >= 0 { print $2 }' "$figures" | sort -g | awk -v label="$label" -v unit="$unit" '
    { v[NR] = $1 }
    END {
      if (NR == 0) { printf "%-58s no figures\n", label; exit }
      median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf "%-58s median %9.2f %s   min %9.2f   max %9.2f   (n=%d)\n", label, median, unit, v[1], v[NR], NR
    }'
}

# bench_start NAME TARGET...: builds the named targets of the Windows tree, starts the run's Wine session
# and makes the run's work folder, $work; both are ended when the script exits.
bench_start() {
  local name=$1
  shift
  cmake --build "$ORVEL_BUILD_DIR" --target "$@" >/dev/null
  orvel_start_wine_session >/dev/null
  work=$(mktemp -d "/tmp/orvel-$name.XXXXXX")
  trap 'orvel_end_wine_session; rm -rf "$work"' EXIT
}

# bench_service_unix_pid: the Unix process that runs the service in this prefix (its command line names
# the Windows image; its environment names the prefix, as several prefixes may run at once).
bench_service_unix_pid() {
  local p
  for p in /proc/[0-9]*; do
    # (A process may end while it is looked at.)
    if { tr '\0' ' ' < "$p/cmdline"; } 2>/dev/null | grep -q 'Corvane\\DemonService.exe *$' &&
       { tr '\0' '\n' < "$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      basename "$p"
      return 0
    fi
  done
  return 1
}

# bench_report_failures FIGURES: the runs that gave no figure, when there were any.
bench_report_failures() {
  awk '$1 == "failures" && $2 != 0 { print "runs without a figure: " $2 }' "$1"
}

# bench_report_stderr FILE: what the bench program wrote to stderr, when it wrote anything.
bench_report_stderr() {
  [ -s "$1" ] && { echo "stderr of the bench program:"; cat "$1"; } || true
}
