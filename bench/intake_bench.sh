#!/bin/sh
# Benchmark of the raster intake: time per A4 600 dpi RGB page (4960 x 7016
# pixels, 104 MB) for uncompressed and compressed CUPS raster, beside `cat`
# of the same input.
# Usage: intake_bench.sh BINDIR [PAGES]
set -eu
BIN=${1:?bin directory}
PAGES=${2:-3}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM
W=4960
H=7016
"$BIN/intake_mkraster" $W $H "$PAGES" plain >"$WORK/plain.ras"
"$BIN/intake_mkraster" $W $H "$PAGES" compressed >"$WORK/compressed.ras"
BYTES=$(wc -c <"$WORK/plain.ras")

# run NAME INPUT COMMAND...: best of three wall-clock runs.
. "$(dirname "$0")/timing.sh"
CAT_SEC=
run() {
  name=$1
  input=$2
  shift 2
  best_of_three "$input" "$@" || { echo "$name: failed" >&2; return 1; }
  best=$BEST_SEC
  [ -n "$CAT_SEC" ] || CAT_SEC=$best
  awk -v n="$name" -v s="$best" -v c="$CAT_SEC" -v b="$BYTES" -v p="$PAGES" 'BEGIN {
    if (s <= 0) s = 0.001; if (c <= 0) c = 0.001;
    printf "%-36s %8.4f s/page %9.1f MB/s %6.2f x cat\n", n, s / p, b / s / 1e6, s / c }'
}

echo "A4 600 dpi RGB: $W x $H x 3 bytes per page, $PAGES pages, $BYTES bytes of raster"
run "cat (uncompressed raster)" "$WORK/plain.ras" cat
run "cupstoztraster, uncompressed" "$WORK/plain.ras" "$BIN/cupstoztraster" 1 u t 1 ""
run "cupstoztraster, compressed (RaS2)" "$WORK/compressed.ras" "$BIN/cupstoztraster" 1 u t 1 ""
