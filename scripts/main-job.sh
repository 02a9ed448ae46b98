#!/usr/bin/env bash
# The main job: builds the driver and runs the sample document through the
# whole chain on the bundled sample printer model. Output goes to the folder
# given as the first argument (default: ./out).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$top/out}" && cd "${1:-$top/out}" && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" >/dev/null
cmake --build "$top/build" -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
echo "built programs:"
ls "$top/build/bin"
