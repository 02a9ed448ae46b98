#!/usr/bin/env bash
# The main job: prints the bundled sample document (data/sample.ps) through
# the whole driver on the bundled sample printer model and writes, into the
# folder named by the first argument (default ./out):
#   job.prn         the printer job (PJL and HBPL) as the printer would get it
#   pages/page-N.png each page of that job, decoded by the job inspector
#   summary.txt     the inspector's report: PJL settings and every page
# Further arguments are job options, as with lp -o (e.g. QKColorMode=Black
# Duplex=DuplexNoTumble).
#
# Installs what it needs on Debian 12 and builds the driver. No CUPS daemon is
# needed and a running one is not touched: CUPS's own rasteriser chain
# (cupsfilter: gstopdf, pdftopdf, gstoraster) makes the CUPS raster, and
# ztmainfilter runs the driver's chain on it with PPD pointing at the sample
# model (its filter folder set to the freshly built programs).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$top/out}" && cd "${1:-$top/out}" && pwd)
shift || true
options=("$@")

"$top/scripts/install-deps.sh"
echo "building the driver in $top/build ..."
cmake -S "$top" -B "$top/build" >"$out/build.log" 2>&1 || { tail -20 "$out/build.log"; exit 1; }
cmake --build "$top/build" -j"$(nproc 2>/dev/null || echo 2)" >>"$out/build.log" 2>&1 \
  || { grep -E 'error|Error' "$out/build.log" | head -20; exit 1; }
bin="$top/build/bin"
for p in ztmainfilter ztjobview; do
  [ -x "$bin/$p" ] || { echo "main-job: $bin/$p was not built" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The sample model's PPD with its folders pointing into this tree.
ppd="$work/korva-zt.ppd"
sed -E -e "s|^\*QKFilterDir:.*|*QKFilterDir: \"$bin\"|" \
       -e "s|^\*QKDlutFilePath:[[:space:]]*\"[^\"]*/([^/\"]*)\"|*QKDlutFilePath: \"$top/data/\1\"|" \
       "$top/data/korva-zt.ppd" > "$ppd"
grep -q '^\*QKFilterDir:' "$ppd" || printf '*QKFilterDir: "%s"\n' "$bin" >> "$ppd"

optstring="${options[*]:-}"
cupsopts=()
for o in "${options[@]}"; do cupsopts+=(-o "$o"); done
rm -rf "$out/pages" "$out/job.prn" "$out/summary.txt"
echo "printing $top/data/sample.ps${optstring:+ with options: $optstring} ..."
t0=$(date +%s.%N)
set +e
cupsfilter -p "$ppd" -m application/vnd.cups-raster "${cupsopts[@]}" "$top/data/sample.ps" 2>"$work/cupsfilter.log" \
  | PPD="$ppd" "$bin/ztmainfilter" 1 "${USER:-user}" "sample.ps" 1 "$optstring" >"$out/job.prn" 2>"$out/filters.log"
status=("${PIPESTATUS[@]}")
set -e
t1=$(date +%s.%N)
if [ "${status[0]}" != 0 ]; then
  echo "main-job: the CUPS rasteriser failed:" >&2; grep -v '^DEBUG' "$work/cupsfilter.log" | tail -10 >&2; exit 1
fi
if [ "${status[1]}" != 0 ]; then
  echo "main-job: ztmainfilter failed (status ${status[1]}):" >&2; grep -E 'ERROR|WARNING' "$out/filters.log" | head -10 >&2
  exit 1
fi

if ! "$bin/ztjobview" -o "$out/pages" "$out/job.prn" >"$out/summary.txt" 2>&1; then
  echo "main-job: the printer job is broken:" >&2; tail -3 "$out/summary.txt" >&2; exit 1
fi
grep -E '^(pjl: @PJL SET (RENDERMODE|DUPLEX|QTY|COPIES|ECONOMODE|HOLD)|page [0-9]+:|pages:)' "$out/summary.txt" \
  | sed -E 's/ (at|custom|kind|format|planes|variant|bits|res|line)=[^ ]*//g'
echo "job: $out/job.prn ($(stat -c %s "$out/job.prn") bytes, made in $(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.1f", b-a}') s)"
echo "pages: $(ls "$out/pages"/*.png | tr '\n' ' ')"
echo "report: $out/summary.txt, filter messages: $out/filters.log"
