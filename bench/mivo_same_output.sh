#!/bin/sh
# Checks that the MIVO codec of the working tree writes the same code streams
# and decodes the same bytes (with the same exceptions on cut and changed
# streams) as the codec of a base revision.
#   bench/mivo_same_output.sh [BASE-REV] [RANDOM-CASES]   (defaults HEAD, 2000)
# Builds bench/mivo_dump.cpp twice, against the base revision's codec sources
# (taken with git archive) and against the working tree's, runs both over
# seeded random images and parameter sets, the images of the codec's
# round-trip tests and the real pages of ../shared/bench-inputs (BENCH_INPUTS,
# default /tmp/bench-inputs; pages that are missing are skipped), and
# compares their lines. With OLD_ZTMIVO5 and NEW_ZTMIVO5 set to two builds of
# the filter, their output for each page is compared too. Temporary files go
# to a directory that is removed at the end. Exit status 0: no difference.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
base=${1:-HEAD}
cases=${2:-2000}
inputs=${BENCH_INPUTS:-/tmp/bench-inputs}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM

mkdir -p "$tmp/base"
git -C "$root" archive "$base" mivo | tar -x -C "$tmp/base"
build() { # SOURCE-DIR OUTPUT
  g++ -O2 -std=c++20 -I"$1" -I"$root/tests/mivo" "$here/mivo_dump.cpp" "$root/tests/mivo/mivotestutil.cpp" \
    "$1"/mivo[!r]*.cpp -o "$2"
}
build "$tmp/base/mivo" "$tmp/dump-old" &
build "$root/mivo" "$tmp/dump-new"
wait $! 2>/dev/null || true
[ -x "$tmp/dump-old" ] || { echo "ERROR: the base revision's codec did not build" >&2; exit 1; }

failed=0
compare() { # NAME ARGS...
  name=$1
  shift
  "$tmp/dump-old" "$@" >"$tmp/old.txt"
  "$tmp/dump-new" "$@" >"$tmp/new.txt"
  lines=$(wc -l <"$tmp/new.txt")
  if cmp -s "$tmp/old.txt" "$tmp/new.txt"; then
    echo "same:    $name ($lines cases)"
  else
    echo "DIFFERS: $name"
    diff "$tmp/old.txt" "$tmp/new.txt" | head -6
    failed=1
  fi
}

compare "seeded random images and parameter sets" random 0 "$cases"
compare "round-trip test images" tests
for page in text graphics photo; do
  [ -f "$inputs/$page.cmyk" ] || { echo "skipped: $inputs/$page.cmyk is missing"; continue; }
  compare "page $page (colour, lead pixels, monochrome)" page "$inputs/$page.cmyk" 4960 7016
done

if [ -n "${OLD_ZTMIVO5:-}" ] && [ -n "${NEW_ZTMIVO5:-}" ]; then
  # One ZT page header (width, height, 32 bits per pixel) before the raw page.
  for page in text graphics photo; do
    [ -f "$inputs/$page.cmyk" ] || continue
    python3 -c 'import struct,sys; sys.stdout.buffer.write(struct.pack("<iiiiiIIIIIIiII",4960,7016,32,19840,19840*7016,600,600,0,0,3,0,1,595,842))' >"$tmp/page.zt"
    cat "$inputs/$page.cmyk" >>"$tmp/page.zt"
    PPD="$root/data/korva-zt.ppd" "$OLD_ZTMIVO5" 1 u t 1 "" <"$tmp/page.zt" >"$tmp/old.out"
    PPD="$root/data/korva-zt.ppd" "$NEW_ZTMIVO5" 1 u t 1 "" <"$tmp/page.zt" >"$tmp/new.out"
    if cmp -s "$tmp/old.out" "$tmp/new.out"; then
      echo "same:    ztmivo5 on page $page ($(stat -c %s "$tmp/new.out") bytes)"
    else
      echo "DIFFERS: ztmivo5 on page $page"
      failed=1
    fi
  done
fi
exit $failed
