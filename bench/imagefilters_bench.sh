#!/bin/sh
# Benchmark of the image filters: time per A4 600 dpi CMYK page (4960 x 7016
# pixels, 139 MB) for trapping, edge enhancement and the digital filter with
# the sample model's parameters, beside `cat` of the same stream, on a
# text-like and a photo-like page (and on the real pages of make-inputs.sh
# when they are in $BENCH_INPUTS).
# Usage: imagefilters_bench.sh BINDIR PPD DLB [PAGES]
set -eu
BIN=${1:?bin directory}
SRC_PPD=${2:?PPD file}
DLB=${3:?device parameter file}
PAGES=${4:-2}
INPUTS=${BENCH_INPUTS:-/tmp/bench-inputs}

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM
W=4960
H=7016

# The sample PPD with its device parameter file taken from the source tree.
sed "s|^\*QKDlutFilePath:.*|*QKDlutFilePath: \"$DLB\"|" "$SRC_PPD" >"$WORK/bench.ppd"
PPD=$WORK/bench.ppd
export PPD

# once INPUT COMMAND...: one run of the command reading the page file and
# writing into a pipe that `cat` drains, as a filter of the chain does; sets
# SEC (wall clock) and CPU (the command's user + system time).
once() {
  input=$1
  shift
  t0=$(date +%s%N)
  { /usr/bin/time -f "%U %S" -o "$WORK/time.txt" "$@" <"$input" 2>"$WORK/err.txt" || echo fail >"$WORK/failed"; } |
    cat >/dev/null
  t1=$(date +%s%N)
  if [ -e "$WORK/failed" ]; then
    echo "$*: failed" >&2
    cat "$WORK/err.txt" >&2
    exit 1
  fi
  SEC=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", (b - a) / 1e9 }')
  CPU=$(awk '{ printf "%.6f", $1 + $2 }' "$WORK/time.txt")
}

lower() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

# run NAME INPUT COMMAND...: five rounds, each timing `cat` and then the
# command on the same stream, so that both see the same load on a shared
# machine; the best of each is reported, and the ratios between them.
run() {
  name=$1
  input=$2
  shift 2
  bytes=$(wc -c <"$input")
  pages=$((bytes / (W * H * 4)))
  best= cpu= catBest= catCpu=
  for i in 1 2 3 4 5; do
    once "$input" cat
    catBest=$(lower "$SEC" "$catBest")
    catCpu=$(lower "$CPU" "$catCpu")
    once "$input" "$@"
    best=$(lower "$SEC" "$best")
    cpu=$(lower "$CPU" "$cpu")
  done
  if [ -s "$WORK/err.txt" ]; then sed 's/^/    /' "$WORK/err.txt" >&2; fi
  awk -v n="$name" -v s="$best" -v c="$catBest" -v u="$cpu" -v cu="$catCpu" -v b="$bytes" -v p="$pages" \
      -v px=$((W * H)) 'BEGIN {
    if (s <= 0) s = 0.001; if (c <= 0) c = 0.001; if (u <= 0) u = 0.01; if (cu <= 0) cu = 0.01;
    printf "%-32s %6.3f s/page (cat %5.3f) %6.2f x cat %6.1f MB/s %6.1f Mpx/s | cpu %5.3f s/page %5.2f x cat\n",
           n, s / p, c / p, s / c, b / s / 1e6, px * p / s / 1e6, u / p, u / cu }'
}

filters() {
  label=$1
  input=$2
  doc=$3
  run "zttrapping ($label)" "$input" "$BIN/zttrapping" 1 u t 1 "QKTrapping=True QKDocumentType=$doc"
  run "ztedgeenhance ($label)" "$input" "$BIN/ztedgeenhance" 1 u t 1 "QKEdgeEnhance=True QKDocumentType=$doc"
  run "ztdigitalfilter ($label)" "$input" "$BIN/ztdigitalfilter" 1 u t 1 "QKDigitalFilter=Middle"
  run "ztdigitalfilter Off ($label)" "$input" "$BIN/ztdigitalfilter" 1 u t 1 ""
}

echo "A4 600 dpi CMYK: $W x $H x 4 bytes per page, parameters from $DLB"
"$BIN/imagefilters_mkpage" text "$PAGES" >"$WORK/text.zt"
filters "synthetic text" "$WORK/text.zt" Standard
"$BIN/imagefilters_mkpage" photo "$PAGES" >"$WORK/photo.zt"
filters "synthetic photo" "$WORK/photo.zt" Photo
rm -f "$WORK/text.zt" "$WORK/photo.zt"

for page in text graphics photo; do
  raw=$INPUTS/$page.cmyk
  [ -r "$raw" ] || continue
  "$BIN/imagefilters_mkpage" wrap $W $H <"$raw" >"$WORK/$page.zt"
  doc=Standard
  [ "$page" != photo ] || doc=Photo
  filters "$page page" "$WORK/$page.zt" "$doc"
  rm -f "$WORK/$page.zt"
done
