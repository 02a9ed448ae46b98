# Timing shared by the benchmark scripts; sourced (the functions use $WORK).

# ensure_gnu_time: installs GNU time, which measures the peak memory.
ensure_gnu_time() {
  [ -x /usr/bin/time ] && return 0
  echo "installing GNU time for the memory figures" >&2
  if [ "$(id -u)" = 0 ]; then apt-get install -y time >/dev/null; else sudo apt-get install -y time >/dev/null; fi
}

# best_of_three INPUT COMMAND...: runs COMMAND three times with INPUT on
# standard input and its output dropped; BEST_SEC is the fastest wall-clock
# time in seconds. A failed run shows its messages and returns 1.
best_of_three() {
  _input=$1
  shift
  BEST_SEC=
  for _i in 1 2 3; do
    _t0=$(date +%s%N)
    "$@" <"$_input" >/dev/null 2>"$WORK/err.txt" || { cat "$WORK/err.txt" >&2; return 1; }
    _t1=$(date +%s%N)
    _sec=$(awk -v a="$_t0" -v b="$_t1" 'BEGIN { printf "%.6f", (b - a) / 1e9 }')
    if [ -z "$BEST_SEC" ] || awk -v a="$_sec" -v b="$BEST_SEC" 'BEGIN { exit !(a < b) }'; then BEST_SEC=$_sec; fi
  done
}

# peak_rss INPUT COMMAND...: PEAK_KIB is the peak resident set size of one
# run of COMMAND, measured by GNU time.
peak_rss() {
  _input=$1
  shift
  /usr/bin/time -v -o "$WORK/time.txt" "$@" <"$_input" >/dev/null 2>/dev/null
  PEAK_KIB=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/time.txt")
}

# drained_best_of RUNS INPUT COMMAND...: runs COMMAND RUNS times with INPUT
# on standard input and its output drained through a pipe by `cat`, as a
# CUPS backend reads the last filter's output. BEST_SEC is the fastest
# wall-clock time, CPU_SEC the least CPU time (user + system of COMMAND and
# of the children it waits for), PEAK_KIB the largest peak resident set
# (GNU time: of the largest single process). A failed run shows its
# messages and returns 1.
drained_best_of() {
  _runs=$1
  _input=$2
  shift 2
  BEST_SEC=
  CPU_SEC=
  PEAK_KIB=0
  _i=0
  while [ "$_i" -lt "$_runs" ]; do
    _i=$((_i + 1))
    rm -f "$WORK/failed"
    _t0=$(date +%s%N)
    { /usr/bin/time -f "%U %S %M" -o "$WORK/time.txt" "$@" <"$_input" 2>"$WORK/err.txt" || : >"$WORK/failed"; } |
      cat >/dev/null
    _t1=$(date +%s%N)
    if [ -e "$WORK/failed" ]; then
      cat "$WORK/err.txt" >&2
      return 1
    fi
    _sec=$(awk -v a="$_t0" -v b="$_t1" 'BEGIN { printf "%.6f", (b - a) / 1e9 }')
    _cpu=$(awk 'END { printf "%.2f", $1 + $2 }' "$WORK/time.txt")
    _kib=$(awk 'END { print $3 }' "$WORK/time.txt")
    if [ -z "$BEST_SEC" ] || awk -v a="$_sec" -v b="$BEST_SEC" 'BEGIN { exit !(a < b) }'; then BEST_SEC=$_sec; fi
    if [ -z "$CPU_SEC" ] || awk -v a="$_cpu" -v b="$CPU_SEC" 'BEGIN { exit !(a < b) }'; then CPU_SEC=$_cpu; fi
    [ "$_kib" -gt "$PEAK_KIB" ] && PEAK_KIB=$_kib
  done
  rm -f "$WORK/failed"
}
