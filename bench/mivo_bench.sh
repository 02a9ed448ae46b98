#!/bin/sh
# Benchmark of the MIVO codec and the ztmivo5 filter on synthetic A4 600 dpi
# CMYK pages (4960 x 7016, 139 MB each).
#   bench/mivo_bench.sh [build-dir]      (default /work/build-mivo)
# Prints the codec's encode/decode speed, coded bytes and ratio per page
# beside zlib level 1 and lz4, then the filter's wall time per page beside
# cat of the same stream, and its peak memory. Pages are generated in a
# temporary directory and removed afterwards.
#
# zlib and lz4 are used by this benchmark only (Debian zlib1g-dev and
# liblz4-dev); they are installed here when missing and are never needed
# to build or test the driver.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-/work/build-mivo}

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

cmake --build "$build" --target ztmivo5 mivo -j2 >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM
g++ -O2 -std=c++20 -I"$root/mivo" -I"$root/common" "$here/mivo_codec_bench.cpp" "$build/mivo/libmivo.a" -lz -llz4 \
  -o "$tmp/mivo_codec_bench"
"$tmp/mivo_codec_bench"

echo
echo "ztmivo5 filter, one page per run (wall seconds, best of 3), beside cat of the same stream"
printf '%-6s %10s %10s %10s %10s %12s\n' page cat ztmivo5 "MB/s" "out MB" "peak RSS KB"
for kind in text photo; do
  "$tmp/mivo_codec_bench" --write-page "$kind" "$tmp/page.zt"
  size=$(stat -c %s "$tmp/page.zt")
  best() {
    b=999999
    for i in 1 2 3; do
      s=$(date +%s.%N)
      "$@" < "$tmp/page.zt" > "$tmp/out" 2>/dev/null
      e=$(date +%s.%N)
      b=$(echo "$e - $s" | bc -l | awk -v b="$b" '{ print ($1 < b) ? $1 : b }')
    done
    echo "$b"
  }
  tcat=$(best cat)
  tfilter=$(PPD="$root/data/korva-zt.ppd" best "$build/bin/ztmivo5" 1 bench bench 1 "")
  out=$(stat -c %s "$tmp/out")
  rss=$(PPD="$root/data/korva-zt.ppd" /usr/bin/time -f %M "$build/bin/ztmivo5" 1 bench bench 1 "" \
        < "$tmp/page.zt" 2>&1 >/dev/null | tail -1)
  printf '%-6s %10.3f %10.3f %10.0f %10.2f %12s\n' "$kind" "$tcat" "$tfilter" \
    "$(echo "$size / 1000000 / $tfilter" | bc -l)" "$(echo "$out / 1000000" | bc -l)" "$rss"
done
