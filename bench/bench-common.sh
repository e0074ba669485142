# Sourced by the benchmark scripts, after scripts/wine-env.sh.

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
