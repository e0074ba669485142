# Sourced by the benchmark scripts, after scripts/wine-env.sh: building and running a benchmark program
# in a Wine session of its own, and reporting its figures.

# bench_compile OUT SOURCE [more compiler and linker arguments]: builds a benchmark program for Windows
# against the service's headers (and, when the arguments name them, its libraries).
bench_compile() {
  local out=$1 source=$2
  shift 2
  x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -static \
    -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 \
    -I "$orvel_root/DemonService" -I "$orvel_root/bench" "$source" "$@" -o "$out"
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

# bench_compile_with_core OUT SOURCE [more arguments]: bench_compile for a program that runs the service's
# own code in a service context of its own, linked against the service's libraries.
bench_compile_with_core() {
  local out=$1 source=$2
  shift 2
  bench_compile "$out" "$source" -municode \
    -L "$ORVEL_BUILD_DIR/DemonService" -L "$ORVEL_BUILD_DIR" -lorvel_core -lorvel_pure -lcjson \
    -lwtsapi32 -luserenv -ladvapi32 -lshell32 -lole32 -loleaut32 -lwintrust -lcrypt32 -lversion "$@"
}

# bench_service_unix_pid: the Unix process that runs the service in this prefix (its command line names
# the Windows image; its environment names the prefix, as several prefixes may run at once).
bench_service_unix_pid() {
  local p
  for p in /proc/[0-9]*; do
    if tr '\0' ' ' < "$p/cmdline" 2>/dev/null | grep -q 'Corvane\\DemonService.exe *$' &&
       tr '\0' '\n' < "$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
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
