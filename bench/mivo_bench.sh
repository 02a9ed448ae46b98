#!/bin/sh
# Benchmark of the MIVO codec and the ztmivo5 filter on A4 600 dpi CMYK pages
# (4960 x 7016, 139 MB each).
#   bench/mivo_bench.sh [build-dir]      (default: build under the project root)
# 1. The real pages of ../shared/bench-inputs (raw CMYK in $BENCH_INPUTS,
#    default /tmp/bench-inputs; made with its make-inputs.sh when missing):
#    the codec's encode and decode speed in process (MB/s of raw CMYK, best
#    of 3, one thread), coded bytes and ratio; then the filter's wall time per
#    page with the sample PPD (its FallbackThreshold of 80 MiB keeps the
#    fallback off) beside cat of the same stream, and its peak memory.
# 2. Synthetic pages, beside zlib level 1 and lz4 on the same bytes.
# Temporary files go to a directory that is removed at the end.
#
# zlib and lz4 are used by this benchmark only (Debian zlib1g-dev and
# liblz4-dev); they are installed here when missing and are never needed
# to build or test the driver.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build}
inputs=${BENCH_INPUTS:-/tmp/bench-inputs}
pages="text graphics photo"

missing=
for pkg in zlib1g-dev liblz4-dev; do
  dpkg-query -W -f '${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $pkg"
done
if [ -n "$missing" ]; then
  echo "installing the benchmark's libraries:$missing"
  sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  if ! { $sudo apt-get install -y --no-install-recommends $missing >/dev/null ||
         { $sudo apt-get update >/dev/null && $sudo apt-get install -y --no-install-recommends $missing >/dev/null; }; }; then
    echo "ERROR: cannot install$missing (needed by this benchmark only)" >&2
    exit 1
  fi
fi
. "$here/timing.sh"
ensure_gnu_time

for page in $pages; do
  if [ ! -f "$inputs/$page.cmyk" ]; then
    echo "making the benchmark pages in $inputs"
    OUT=$inputs "$root/../shared/bench-inputs/make-inputs.sh" >/dev/null
    break
  fi
done

cmake --build "$build" --target ztmivo5 mivo -j2 >/dev/null
tmp=$(mktemp -d)
WORK=$tmp
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM
g++ -O2 -std=c++20 -I"$root/mivo" -I"$root/common" "$here/mivo_codec_bench.cpp" "$build/mivo/libmivo.a" -lz -llz4 \
  -o "$tmp/mivo_codec_bench"

echo "Real pages ($inputs), MIVO with the compression filter's settings, in process, one thread;"
echo "best of 3 runs; MB/s of raw CMYK"
"$tmp/mivo_codec_bench" --heading
for page in $pages; do
  "$tmp/mivo_codec_bench" --real "$page" "$inputs/$page.cmyk"
done

echo
echo "ztmivo5 filter, one page per run, fallback off (wall seconds, best of 3), beside cat of the same stream"
printf '%-9s %10s %10s %10s %10s %12s\n' page cat ztmivo5 "MB/s" "out MB" "peak RSS KB"
PPD="$root/data/korva-zt.ppd"
export PPD
for page in $pages; do
  "$tmp/mivo_codec_bench" --write-page "$inputs/$page.cmyk" "$tmp/page.zt"
  size=$(stat -c %s "$tmp/page.zt")
  best_of_three "$tmp/page.zt" cat
  tcat=$BEST_SEC
  best_of_three "$tmp/page.zt" "$build/bin/ztmivo5" 1 bench bench 1 ""
  tfilter=$BEST_SEC
  "$build/bin/ztmivo5" 1 bench bench 1 "" <"$tmp/page.zt" >"$tmp/out"
  out=$(stat -c %s "$tmp/out")
  peak_rss "$tmp/page.zt" "$build/bin/ztmivo5" 1 bench bench 1 ""
  printf '%-9s %10.3f %10.3f %10.0f %10.2f %12s\n' "$page" "$tcat" "$tfilter" \
    "$(echo "$size / 1000000 / $tfilter" | bc -l)" "$(echo "$out / 1000000" | bc -l)" "$PEAK_KIB"
done
rm -f "$tmp/page.zt" "$tmp/out"

echo
echo "Synthetic pages; MIVO beside zlib level 1 and lz4"
"$tmp/mivo_codec_bench"

# ---- Fallback ------------------------------------------------------------------
# ztmivo5 on the real photo page of ../shared/bench-inputs at the default
# threshold (25 MiB: a PPD without "FallbackThreshold"), and on a 1000 x 1400
# crop of it at 1 MiB: the filter's time without the fallback (the sample
# PPD's 80 MiB) and with it, wall and CPU (user + system) seconds, each the
# best of 3, and their ratios (CPU time suffers less from a busy machine,
# but GNU time gives it in hundredths),
# the coded size against the threshold, the CMYK PSNR, largest error and
# share of changed pixels of the decoded page against the input (image
# pixels only, decoded with the codec library) and the peak memory.
# FALLBACK_BASE=<build dir> adds the figures of another build's ztmivo5
# (e.g. an older one) beside.
(
  fb_here=$(cd "$(dirname "$0")" && pwd)
  fb_root=$(dirname "$fb_here")
  fb_build=${build:-${1:-/work/build-mivo}}
  fb_inputs=${BENCH_INPUTS:-/tmp/bench-inputs}
  if [ ! -f "$fb_inputs/photo.cmyk" ]; then
    echo "making the benchmark pages in $fb_inputs"
    OUT=$fb_inputs "$fb_root/../shared/bench-inputs/make-inputs.sh" >/dev/null
  fi
  WORK=$(mktemp -d)
  trap 'rm -rf "$WORK"' EXIT
  . "$fb_here/timing.sh"
  ensure_gnu_time
  cmake --build "$fb_build" --target ztmivo5 mivo -j2 >/dev/null
  g++ -O2 -std=c++20 -I"$fb_root/mivo" -I"$fb_root/common" "$fb_here/mivo_fallback_tool.cpp" \
    "$fb_build/mivo/libmivo.a" -o "$WORK/tool"
  "$WORK/tool" wrap "$fb_inputs/photo.cmyk" 4960 7016 0 0 4960 7016 "$WORK/photo.zt"
  "$WORK/tool" wrap "$fb_inputs/photo.cmyk" 4960 7016 1980 2800 1000 1400 "$WORK/crop.zt"
  grep -v 'FallbackThreshold' "$fb_root/data/korva-zt.ppd" >"$WORK/default.ppd"
  sed 's/^\*QKFallbackThreshold: .*/*QKFallbackThreshold: "1"/' "$fb_root/data/korva-zt.ppd" >"$WORK/one.ppd"

  # fb_time PPD PAGE BIN: FB_WALL, FB_CPU (best of 3) and FB_PEAK (KiB).
  fb_time() {
    FB_WALL= FB_CPU= FB_PEAK=0
    for fb_i in 1 2 3; do
      fb_t0=$(date +%s%N)
      PPD=$1 /usr/bin/time -f '%U %S %M' -o "$WORK/time.txt" "$3" 1 bench bench 1 "" <"$2" >/dev/null 2>&1
      fb_t1=$(date +%s%N)
      set -- "$@" "$(awk -v a="$fb_t0" -v b="$fb_t1" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')" $(cat "$WORK/time.txt")
      FB_WALL=$(awk -v a="$4" -v b="$FB_WALL" 'BEGIN { print (b == "" || a < b) ? a : b }')
      FB_CPU=$(awk -v a="$5" -v s="$6" -v b="$FB_CPU" 'BEGIN { c = a + s; print (b == "" || c < b) ? c : b }')
      FB_PEAK=$(awk -v a="$7" -v b="$FB_PEAK" 'BEGIN { print (a > b) ? a : b }')
      set -- "$1" "$2" "$3"
    done
  }

  echo
  echo "ztmivo5 fallback, one page per run (seconds, best of 3)"
  printf '%-5s %-4s %7s %7s %6s %7s %7s %6s %9s %8s %8s %8s %8s %8s\n' page bin "wall" "fb" ratio "cpu" "fb" ratio \
    "coded MB" "%thresh" "PSNR dB" "max err" "changed%" "peak KB"
  for fb_bin in "$fb_build/bin/ztmivo5" ${FALLBACK_BASE:+"$FALLBACK_BASE/bin/ztmivo5"}; do
    fb_name=new
    [ "$fb_bin" = "$fb_build/bin/ztmivo5" ] || fb_name=base
    for fb_case in photo:default:26214400 crop:one:1048576; do
      fb_page=${fb_case%%:*}
      fb_rest=${fb_case#*:}
      fb_ppd=$WORK/${fb_rest%%:*}.ppd
      fb_threshold=${fb_rest#*:}
      fb_time "$fb_root/data/korva-zt.ppd" "$WORK/$fb_page.zt" "$fb_bin"
      fb_wall=$FB_WALL fb_cpu=$FB_CPU
      fb_time "$fb_ppd" "$WORK/$fb_page.zt" "$fb_bin"
      PPD=$fb_ppd "$fb_bin" 1 bench bench 1 "" <"$WORK/$fb_page.zt" >"$WORK/coded" 2>/dev/null
      set -- $("$WORK/tool" psnr "$WORK/$fb_page.zt" "$WORK/coded")
      awk -v p="$fb_page" -v b="$fb_name" -v w="$fb_wall" -v fw="$FB_WALL" -v c="$fb_cpu" -v fc="$FB_CPU" \
        -v n="$1" -v t="$fb_threshold" -v q="$2" -v m="$3" -v ch="$4" -v r="$FB_PEAK" 'BEGIN {
          printf "%-5s %-4s %7.3f %7.3f %6.2f %7.2f %7.2f %6.2f %9.2f %8.1f %8.2f %8d %8.1f %8d\n", p, b, w, fw, fw / w,
            c, fc, fc / c, n / 1e6, 100 * n / t, q, m, ch, r }'
    done
  done
)
