#!/usr/bin/env bash
# Runs every program of the driver on one small job under valgrind's memcheck
# and fails when any run has a memory error or a definite leak (strings that
# libcups caches for good are suppressed, see tests/valgrind.supp).
#   scripts/memcheck.sh [BUILD_DIR]
# The job: two small RGB pages of CUPS raster, passed program by program
# through the whole chain with every image feature, toner saving, duplex and
# reverse order on, so that each program does its real work (and ztrotate
# and ztmivo5 their temporary files); then ztmainfilter runs the same chain.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
bin="$build/bin"
command -v valgrind >/dev/null || { echo "memcheck: valgrind is not installed" >&2; exit 1; }
for p in intake_mkraster cupstoztraster ztskipblank ztcolorconv zttrapping ztedgeenhance ztdigitalfilter zttrc \
         ztrotate ztmivo5 ztrastertohbpl ztmainfilter; do
  [ -x "$bin/$p" ] || { echo "memcheck: $bin/$p was not built" >&2; exit 1; }
done

work=$(mktemp -d)
trap '[ -n "${ZT_MEMCHECK_KEEP:-}" ] || rm -rf "$work"' EXIT
ppd="$work/korva-zt.ppd"
sed -E -e "s|^\*QKFilterDir:.*|*QKFilterDir: \"$bin\"|" \
       -e "s|^\*QKDlutFilePath:[[:space:]]*\"[^\"]*/([^/\"]*)\"|*QKDlutFilePath: \"$top/data/\1\"|" \
       "$top/data/korva-zt.ppd" >"$ppd"
export PPD="$ppd"
options="QKSkip=True QKTrapping=True QKEdgeEnhance=True QKDigitalFilter=Middle QKTonerSaver=True"
options+=" Duplex=DuplexNoTumble QKTurnPage=True OutputOrder=Reverse"

vg=(valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite
    --errors-for-leak-kinds=definite --suppressions="$top/tests/valgrind.supp")
failed=0
# run NAME INPUT OUTPUT: one program under memcheck, its input given as the
# file argument.
run() {
  local name=$1 input=$2 output=$3 status=0
  "${vg[@]}" --log-file="$work/$name.vg" "$bin/$name" 1 user title 1 "$options" "$input" \
    >"$output" 2>"$work/$name.err" || status=$?
  if [ "$status" = 0 ] && [ ! -s "$work/$name.vg" ]; then
    echo "memcheck: $name: clean"
  else
    failed=1
    echo "memcheck: $name: exit status $status" >&2
    cat "$work/$name.vg" >&2
    grep -E '^(ERROR|WARNING)' "$work/$name.err" >&2 || true
  fi
}

"$bin/intake_mkraster" 300 200 2 compressed >"$work/job.ras"
run cupstoztraster "$work/job.ras" "$work/1.zt"
run ztskipblank "$work/1.zt" "$work/2.zt"
run ztcolorconv "$work/2.zt" "$work/3.zt"
run zttrapping "$work/3.zt" "$work/4.zt"
run ztedgeenhance "$work/4.zt" "$work/5.zt"
run ztdigitalfilter "$work/5.zt" "$work/6.zt"
run zttrc "$work/6.zt" "$work/7.zt"
run ztrotate "$work/7.zt" "$work/8.zt"
run ztmivo5 "$work/8.zt" "$work/9.zt"
run ztrastertohbpl "$work/9.zt" "$work/job.prn"
# The runner itself; its children are the programs checked above.
run ztmainfilter "$work/job.ras" "$work/chain.prn"
[ "$failed" = 0 ] && echo "memcheck: 11 programs, no memory error, no definite leak"
exit "$failed"
