#!/bin/sh
# Benchmark of the whole driver chain and of each of its programs on the real
# A4 600 dpi pages of make-inputs.sh (text, graphics, photo) and on a 10-page
# mixed job made of them, beside `cat` moving the same bytes.
#
# For every job it times, each run's output drained from a pipe by `cat` as a
# CUPS backend reads it:
#   - one pipe hop (`cat | cat`) of each input form, the unit of the ratios;
#   - a chain of as many `cat` processes as each driver chain has filters;
#   - the sample model's default chain and its full chain (trapping, edge
#     enhancement and digital filter on) run by ztmainfilter;
#   - each program alone on its own input form: the intake on CUPS raster,
#     blank-page skipping and colour conversion on RGB ZT raster, the printer
#     language filter on coded pages, the others on CMYK ZT raster.
# It prints wall-clock and CPU seconds per page (best of the runs), the ratio of
# the wall-clock time to one hop of the same input (for a program alone, a
# hop timed in turn with it) and the peak resident set of the largest single
# process. The ZT raster inputs are made once per job
# with the programs of the first build folder.
#
# Usage: chain_bench.sh [BUILD_DIR ...]
#   BUILD_DIR   a CMake build folder with bin/ (default: build under the
#               project root). With several, each measurement is taken for
#               each build in turn in the same run, e.g. a baseline build
#               and the current one.
# Environment: BENCH_INPUTS (default /tmp/bench-inputs), CHAIN_BENCH_JOBS
# (default "text graphics photo mixed"), CHAIN_BENCH_RUNS (runs per figure,
# the best counts; default 3).
set -eu
TOP=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || set -- "$TOP/build"
INPUTS=${BENCH_INPUTS:-/tmp/bench-inputs}
JOBS=${CHAIN_BENCH_JOBS:-text graphics photo mixed}
RUNS=${CHAIN_BENCH_RUNS:-3}

. "$TOP/bench/timing.sh"
ensure_gnu_time

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
trap 'exit 130' INT TERM

PROGRAMS="cupstoztraster ztskipblank ztcolorconv zttrapping ztedgeenhance ztdigitalfilter zttrc ztrotate ztmivo5
  ztrastertohbpl ztmainfilter"
FULL_OPTIONS="QKTrapping=True QKEdgeEnhance=True QKDigitalFilter=Middle"
# Filters each chain of the sample model runs (its conditions select them):
# cupstoztraster, ztcolorconv, ztmivo5 and ztrastertohbpl by default; the
# full chain adds zttrapping, ztedgeenhance and ztdigitalfilter.
DEFAULT_FILTERS=4
FULL_FILTERS=7

# Every build gets the sample model's PPD with its filter folder pointing at
# the build's programs and its data files taken from the source tree.
n=0
for dir in "$@"; do
  n=$((n + 1))
  bin=$(cd "$dir" && pwd)/bin
  for p in $PROGRAMS; do
    [ -x "$bin/$p" ] || { echo "chain_bench: $bin/$p is missing; build the project first" >&2; exit 1; }
  done
  sed -E -e "s|^\*QKFilterDir:.*|*QKFilterDir: \"$bin\"|" \
    -e "s|^\*QKDlutFilePath:[[:space:]]*\"[^\"]*/([^/\"]*)\"|*QKDlutFilePath: \"$TOP/data/\1\"|" \
    "$TOP/data/korva-zt.ppd" >"$WORK/model-$n.ppd"
  echo "build $n: $dir"
done
BUILDS=$n
for page in text graphics photo; do
  [ -r "$INPUTS/$page.rgb.ras" ] || { echo "chain_bench: $INPUTS/$page.rgb.ras is missing (see make-inputs.sh)" >&2; exit 1; }
done

# report NAME BUILD HOP: one line of the table from BEST_SEC, CPU_SEC and
# PEAK_KIB. HOP is the wall-clock time of one hop of the same input ("" for
# the hop itself).
report() {
  awk -v n="$1" -v b="$2" -v s="$BEST_SEC" -v c="$CPU_SEC" -v h="${3:-$BEST_SEC}" -v p="$PAGES" \
    -v r="$PEAK_KIB" 'BEGIN {
    if (h <= 0) h = 0.000001
    printf "%-40s %5s %8.3f s/page %8.3f s/page CPU %6.2f x hop %8.1f MiB\n", n, b, s / p, c / p, s / h, r / 1024 }'
}

# run NAME INPUT HOP BUILD COMMAND...: one line of the table, COMMAND timed
# RUNS times.
run() {
  _name=$1
  _in=$2
  _hop=$3
  _build=$4
  shift 4
  drained_best_of "$RUNS" "$_in" "$@" || { echo "chain_bench: $_name failed" >&2; exit 1; }
  report "$_name" "$_build" "$_hop"
}

# cats N: a command line of N `cat` processes joined by pipes.
cats() {
  _line=cat
  _k=1
  while [ "$_k" -lt "$1" ]; do
    _line="$_line | cat"
    _k=$((_k + 1))
  done
  echo "$_line"
}

# use_build B: PPD and BIN of build B.
use_build() {
  PPD=$WORK/model-$1.ppd
  export PPD
  BIN=$(sed -n 's|^\*QKFilterDir: "\(.*\)"|\1|p' "$PPD")
}

# program NAME INPUT OPTIONS: one program alone, for every build, its ratio
# to a hop of INPUT. The hop and the builds take turns, one run each, so
# that every figure meets the same drift of the machine's pace (writeback,
# other load); the best of each counts.
program() {
  _hop=
  for b in $(seq 1 "$BUILDS"); do eval "_best_$b= _cpu_$b= _peak_$b=0"; done
  _turn=0
  while [ "$_turn" -lt "$RUNS" ]; do
    _turn=$((_turn + 1))
    drained_best_of 1 "$2" cat || { echo "chain_bench: cat failed" >&2; exit 1; }
    _hop=$(min_of "$_hop" "$BEST_SEC")
    for b in $(seq 1 "$BUILDS"); do
      use_build "$b"
      drained_best_of 1 "$2" "$BIN/$1" 1 user title 1 "$3" || { echo "chain_bench: $1 failed" >&2; exit 1; }
      eval "_best_$b=\$(min_of \"\$_best_$b\" $BEST_SEC) _cpu_$b=\$(min_of \"\$_cpu_$b\" $CPU_SEC)"
      eval "[ $PEAK_KIB -gt \$_peak_$b ] && _peak_$b=$PEAK_KIB || :"
    done
  done
  for b in $(seq 1 "$BUILDS"); do
    eval "BEST_SEC=\$_best_$b CPU_SEC=\$_cpu_$b PEAK_KIB=\$_peak_$b"
    report "$1${3:+ $3}" "$b" "$_hop"
  done
}

# min_of A B: the smaller number; A may be empty.
min_of() {
  if [ -z "$1" ] || awk -v a="$2" -v b="$1" 'BEGIN { exit !(a < b) }'; then echo "$2"; else echo "$1"; fi
}

for job in $JOBS; do
  # The job as CUPS raster: one page file, or ten pages of the three joined
  # into one stream (one sync word at the start).
  if [ "$job" = mixed ]; then
    PAGES=10
    ras=$WORK/mixed.ras
    cat "$INPUTS/text.rgb.ras" >"$ras"
    for page in graphics photo text graphics photo text graphics photo text; do
      tail -c +5 "$INPUTS/$page.rgb.ras" >>"$ras"
    done
  else
    PAGES=1
    ras=$INPUTS/$job.rgb.ras
  fi
  # Its other forms, made by the programs of the first build.
  use_build 1
  "$BIN/cupstoztraster" 1 user title 1 "" <"$ras" >"$WORK/rgb.zt"
  "$BIN/ztcolorconv" 1 user title 1 "" <"$WORK/rgb.zt" >"$WORK/cmyk.zt" 2>/dev/null
  "$BIN/ztmivo5" 1 user title 1 "" <"$WORK/cmyk.zt" >"$WORK/coded.zt" 2>/dev/null
  # Their write-back must not run beside the timings.
  sync

  echo
  echo "== $job: $PAGES page(s); CUPS raster $(wc -c <"$ras") bytes, CMYK ZT raster $(wc -c <"$WORK/cmyk.zt") bytes"
  run "cat | cat (CUPS raster)" "$ras" "" - cat
  HOP_RAS=$BEST_SEC
  run "cat | cat (RGB ZT raster)" "$WORK/rgb.zt" "" - cat
  run "cat | cat (CMYK ZT raster)" "$WORK/cmyk.zt" "" - cat
  run "cat | cat (coded pages)" "$WORK/coded.zt" "" - cat
  run "$DEFAULT_FILTERS cat processes (CUPS raster)" "$ras" "$HOP_RAS" - sh -c "$(cats $DEFAULT_FILTERS)"
  run "$FULL_FILTERS cat processes (CUPS raster)" "$ras" "$HOP_RAS" - sh -c "$(cats $FULL_FILTERS)"
  for b in $(seq 1 "$BUILDS"); do
    use_build "$b"
    run "default chain (ztmainfilter)" "$ras" "$HOP_RAS" "$b" "$BIN/ztmainfilter" 1 user title 1 ""
  done
  for b in $(seq 1 "$BUILDS"); do
    use_build "$b"
    run "full chain (ztmainfilter)" "$ras" "$HOP_RAS" "$b" "$BIN/ztmainfilter" 1 user title 1 "$FULL_OPTIONS"
  done
  program cupstoztraster "$ras" ""
  program ztskipblank "$WORK/rgb.zt" ""
  program ztskipblank "$WORK/rgb.zt" "QKSkip=True"
  program ztcolorconv "$WORK/rgb.zt" ""
  program zttrapping "$WORK/cmyk.zt" ""
  program zttrapping "$WORK/cmyk.zt" "QKTrapping=True"
  program ztedgeenhance "$WORK/cmyk.zt" ""
  program ztedgeenhance "$WORK/cmyk.zt" "QKEdgeEnhance=True"
  program ztdigitalfilter "$WORK/cmyk.zt" ""
  program ztdigitalfilter "$WORK/cmyk.zt" "QKDigitalFilter=Middle"
  program zttrc "$WORK/cmyk.zt" ""
  program zttrc "$WORK/cmyk.zt" "QKTonerSaver=True"
  program ztrotate "$WORK/cmyk.zt" ""
  program ztrotate "$WORK/cmyk.zt" "QKTurnPage=True"
  program ztmivo5 "$WORK/cmyk.zt" ""
  program ztrastertohbpl "$WORK/coded.zt" ""
  rm -f "$WORK/mixed.ras" "$WORK/rgb.zt" "$WORK/cmyk.zt" "$WORK/coded.zt"
done
