#!/bin/sh
# Benchmark of ztrastertohbpl: time per A4 600 dpi CMYK page (4960 x 7016
# pixels, 139 MB) beside `cat` of the same stream, and the peak memory of
# each run (GNU time). The filter spools the stream and copies each page
# once per copy pass.
# Usage: hbpl_bench.sh BINDIR PPD [PAGES]
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
"$BIN/hbpl_mkstream" $W $H "$PAGES" >"$WORK/pages.zt"
BYTES=$(wc -c <"$WORK/pages.zt")
# A model that does not collate itself: copies become passes over the spool.
sed 's/^\*QKSupportDeviceCollate: "True"/*QKSupportDeviceCollate: "False"/' "$PPD" >"$WORK/passes.ppd"

# run NAME COPIES COMMAND...: best of three wall-clock runs, then one run
# under GNU time for the peak memory. COPIES scales the bytes written.
CAT_SEC=
run() {
  name=$1
  copies=$2
  shift 2
  best_of_three "$WORK/pages.zt" "$@" || { echo "$name: failed" >&2; return 1; }
  best=$BEST_SEC
  peak_rss "$WORK/pages.zt" "$@"
  rss=$PEAK_KIB
  [ -n "$CAT_SEC" ] || CAT_SEC=$best
  awk -v n="$name" -v s="$best" -v c="$CAT_SEC" -v b="$BYTES" -v p="$PAGES" -v k="$copies" -v r="$rss" 'BEGIN {
    if (s <= 0) s = 0.001; if (c <= 0) c = 0.001;
    printf "%-36s %8.4f s/page %9.1f MB/s %6.2f x cat %8.1f MiB peak\n", n, s / (p * k), b * k / s / 1e6, s / c, r / 1024 }'
}

echo "A4 600 dpi CMYK: $W x $H x 4 bytes per page, $PAGES pages, $BYTES bytes"
run "cat" 1 cat
run "ztrastertohbpl, one copy" 1 "$BIN/ztrastertohbpl" 1 u t 1 ""
run "ztrastertohbpl, 3 copies by passes" 3 env PPD="$WORK/passes.ppd" "$BIN/ztrastertohbpl" 1 u t 3 "Collate=True"
