#!/bin/sh
# Benchmark of the page utilities: time per A4 600 dpi CMYK page (4960 x 7016
# pixels, 139 MB) for every filter and mode, beside `cat` of the same stream,
# and the peak memory of each run (GNU time).
# Usage: pageutils_bench.sh BINDIR PPD [PAGES]
set -eu
BIN=${1:?bin directory}
PPD=${2:?PPD file}
PAGES=${3:-3}
export PPD

. "$(dirname "$0")/timing.sh"
ensure_gnu_time

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM
W=4960
H=7016
"$BIN/pageutils_mkstream" $W $H 32 "$PAGES" ink >"$WORK/ink.zt"
"$BIN/pageutils_mkstream" $W $H 32 "$PAGES" white >"$WORK/white.zt"
BYTES=$(wc -c <"$WORK/ink.zt")

# run NAME INPUT COMMAND...: best of three wall-clock runs (nanosecond clock),
# then one run under GNU time for the peak memory.
CAT_SEC=
run() {
  name=$1
  input=$2
  shift 2
  best_of_three "$input" "$@" || { echo "$name: failed" >&2; return 1; }
  best=$BEST_SEC
  peak_rss "$input" "$@"
  rss=$PEAK_KIB
  [ -n "$CAT_SEC" ] || CAT_SEC=$best
  awk -v n="$name" -v s="$best" -v c="$CAT_SEC" -v b="$BYTES" -v p="$PAGES" -v r="$rss" 'BEGIN {
    if (s <= 0) s = 0.001; if (c <= 0) c = 0.001;
    printf "%-34s %8.4f s/page %9.1f MB/s %6.2f x cat %8.1f MiB peak\n", n, s / p, b / s / 1e6, s / c, r / 1024 }'
}

echo "A4 600 dpi CMYK: $W x $H x 4 bytes per page, $PAGES pages, $BYTES bytes"
run "cat" "$WORK/ink.zt" cat
run "ztskipblank copy (Skip off)" "$WORK/ink.zt" "$BIN/ztskipblank" 1 u t 1 ""
run "ztskipblank Skip, ink pages" "$WORK/ink.zt" "$BIN/ztskipblank" 1 u t 1 "QKSkip=True"
run "ztskipblank Skip, blank pages" "$WORK/white.zt" "$BIN/ztskipblank" 1 u t 1 "QKSkip=True"
run "ztrotate copy (simplex)" "$WORK/ink.zt" "$BIN/ztrotate" 1 u t 1 ""
run "ztrotate turn every page" "$WORK/ink.zt" "$BIN/ztrotate" 1 u t 1 "QKTurnPage=True"
run "ztrotate long-edge duplex" "$WORK/ink.zt" "$BIN/ztrotate" 1 u t 1 "Duplex=DuplexNoTumble"
run "zttrc copy" "$WORK/ink.zt" "$BIN/zttrc" 1 u t 1 ""
run "zttrc toner saver (0.7)" "$WORK/ink.zt" "$BIN/zttrc" 1 u t 1 "QKTonerSaver=True"
run "zttrc thin ink (0.35)" "$WORK/ink.zt" "$BIN/zttrc" 1 u t 1 "QKThinInkPrint=True QKColorMode=Black"
