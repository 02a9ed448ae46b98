#!/bin/sh
# Builds the MIVO fuzz harness with libFuzzer (clang) and runs it for a
# bounded time on the saved corpus. Usage: fuzz/mivo_fuzz.sh [seconds] [workdir]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-60}
work=${2:-/tmp/mivo-fuzz}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ not installed: libFuzzer run skipped" >&2
  exit 0
fi
mkdir -p "$work/corpus"
cp "$here"/mivo_corpus/* "$work/corpus/"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/mivo" "$here/mivo_fuzzer.cpp" "$root"/mivo/mivo[!r]*.cpp -o "$work/mivo_fuzzer"
"$work/mivo_fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 "$work/corpus"
