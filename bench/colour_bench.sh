#!/bin/sh
# Benchmark of the colour conversion: time per A4 600 dpi RGB page (4960 x
# 7016 pixels) converted to CMYK with colour matching on, beside `cat` of the
# same stream, for a text-like and a photo-like page (and a real photograph
# when PHOTO_RGB names a raw 8-bit RGB file of that size, such as the
# photo.rgb of the shared bench inputs).
# Usage: colour_bench.sh BINDIR DATADIR [PAGES]
set -eu
BIN=${1:?bin directory}
DATA=${2:?data directory}
PAGES=${3:-3}
W=4960
H=7016

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM
# The sample model's PPD with its device parameter file taken from the source tree.
sed "s|^\*QKDlutFilePath:.*|*QKDlutFilePath: \"$DATA/korva-zt.dlb\"|" "$DATA/korva-zt.ppd" >"$WORK/model.ppd"
PPD=$WORK/model.ppd
export PPD

"$BIN/colour_mkpage" $W $H "$PAGES" text >"$WORK/text.zt"
"$BIN/colour_mkpage" $W $H "$PAGES" photo >"$WORK/photo.zt"
KINDS="text photo"
if [ -n "${PHOTO_RGB:-}" ] && [ -r "$PHOTO_RGB" ]; then
  "$BIN/colour_mkpage" $W $H "$PAGES" "$PHOTO_RGB" >"$WORK/real.zt"
  KINDS="$KINDS real"
fi

# best KIND COMMAND...: best wall-clock seconds of three runs, input piped through cat.
best() {
  input=$1
  shift
  b=
  for i in 1 2 3; do
    s=$( { /usr/bin/env time -f %e sh -c 'cat "$0" | "$@" >/dev/null' "$input" "$@"; } 2>&1 >/dev/null | tail -n 1)
    if [ -z "$b" ] || awk -v a="$s" -v b="$b" 'BEGIN { exit !(a < b) }'; then b=$s; fi
  done
  echo "$b"
}

echo "A4 600 dpi RGB -> CMYK, colour matching on: $W x $H pixels per page, $PAGES pages per run"
for k in $KINDS; do
  cat_s=$(best "$WORK/$k.zt" cat)
  conv_s=$(best "$WORK/$k.zt" "$BIN/ztcolorconv" 1 bench bench 1 "")
  awk -v k="$k" -v c="$cat_s" -v s="$conv_s" -v p="$PAGES" -v px=$((W * H)) 'BEGIN {
    if (c <= 0) c = 0.001; if (s <= 0) s = 0.001;
    printf "%-6s cat %6.3f s/page   ztcolorconv %6.3f s/page  %6.1f Mpixel/s  %5.2f x cat\n",
           k, c / p, s / p, px * p / s / 1e6, s / c }'
done
