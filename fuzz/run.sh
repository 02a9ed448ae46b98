#!/bin/sh
# Builds every fuzz harness with libFuzzer (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS on a copy of its
# saved corpus. Findings (crash-*, leak-*, timeout-*, oom-*) are kept in
# WORKDIR/<harness>/; the saved corpora in the tree are left alone.
# Ends with one line "N harnesses, M executions, K crashes"; exits non-zero
# when K is not 0.
# Usage: fuzz/run.sh SECONDS [BUILD-DIR [WORKDIR]]
# ZT_FUZZ_ONLY="intake pjl" runs only the named harnesses, ZT_FUZZ_RUNS=N
# stops each after N executions, ZT_FUZZ_PARALLEL=P runs P at a time.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:?usage: fuzz/run.sh SECONDS [BUILD-DIR [WORKDIR]]}
build=${2:-$root/build/fuzz}
work=${3:-$build/runs}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ not installed: libFuzzer runs skipped" >&2
  echo "0 harnesses, 0 executions, 0 crashes"
  exit 0
fi

# harness, corpus folder, largest input; the slowest first.
harnesses="
mivo $here/mivo_corpus 4096
filters $here/corpus/filters 65536
recompress $here/corpus/recompress 8192
intake $here/corpus/intake 16384
devparam $here/corpus/devparam 131072
jobview $here/corpus/jobview 65536
pjl $here/corpus/pjl 4096
conditions $here/corpus/conditions 4096
"
targets=$(echo "$harnesses" | awk 'NF { printf "fuzz_%s ", $1 }')

mkdir -p "$build"
log=$build/fuzz-build.log
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS="-O1 -fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="-O1 -fsanitize=fuzzer-no-link" \
  -DZT_FUZZ=ON -DZT_SANITIZE=ON -DZT_BUILD_TESTS=OFF >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target $targets >>"$log" 2>&1 ||
  { tail -50 "$log" >&2; exit 1; }

# A single allocation above 1 GiB fails (returns null) instead of being
# taken: libcupsimage sizes a line buffer from a raster header before the
# intake can refuse the header, and zeroing 4 GiB under AddressSanitizer
# takes seconds. The code must cope with the failure either way.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:max_allocation_size_mb=1024
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "$harnesses" | awk -v only="${ZT_FUZZ_ONLY:-}" \
  'NF && (only == "" || index(" " only " ", " " $1 " "))' >"$build/harnesses.txt"

for name in $(cut -d' ' -f1 "$build/harnesses.txt"); do rm -rf "${work:?}/$name"; done

# Runs one harness; its executions and findings go to WORKDIR/<name>/result.
run_one() {
  name=$1 corpus=$2 maxlen=$3
  dir=$work/$name
  rm -rf "$dir"
  mkdir -p "$dir/corpus"
  cp "$corpus"/* "$dir/corpus/"
  # The device parameter fuzzer starts from the sample model's own file.
  [ "$name" = devparam ] && cp "$root/data/korva-zt.dlb" "$dir/corpus/"
  log=$dir/fuzz.log
  set +e
  (cd "$dir" && "$build/bin/fuzz_$name" -max_total_time="$seconds" -runs="${ZT_FUZZ_RUNS:--1}" \
    -max_len="$maxlen" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$dir/" corpus) >"$log" 2>&1
  rc=$?
  set -e
  n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$dir" -maxdepth 1 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  [ "$rc" -ne 0 ] && [ "$found" -eq 0 ] && found=1
  echo "${n:-0} $found" >"$dir/result"
  echo "fuzz_$name: ${n:-0} executions, $found findings (log: $log)" >&2
  if [ "$found" -gt 0 ]; then tail -40 "$log" >&2; fi
}

# ZT_FUZZ_PARALLEL harnesses at a time (1 by default): the next starts as
# soon as one has written its result.
parallel=${ZT_FUZZ_PARALLEL:-1}
finished() {
  n=0
  for name in $(cut -d' ' -f1 "$build/harnesses.txt"); do
    if [ -f "$work/$name/result" ]; then n=$((n + 1)); fi
  done
  echo "$n"
}
started=0
while read -r name corpus maxlen; do
  while [ $((started - $(finished))) -ge "$parallel" ]; do sleep 2; done
  run_one "$name" "$corpus" "$maxlen" &
  started=$((started + 1))
done <"$build/harnesses.txt"
wait

count=0 runs=0 crashes=0
while read -r name _; do
  read -r n found <"$work/$name/result"
  count=$((count + 1))
  runs=$((runs + n))
  crashes=$((crashes + found))
done <"$build/harnesses.txt"
echo "$count harnesses, $runs executions, $crashes crashes"
[ "$crashes" -eq 0 ]
