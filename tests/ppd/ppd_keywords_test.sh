#!/bin/bash
# Usage: ppd_keywords_test.sh CMAKE PPDCHECK PPD...
# Every PPD passes the keyword check as made; each mutation below leaves one
# driver keyword without its manufacturer's prefix (or with another
# manufacturer's), and the check must refuse it and name that keyword.
set -uo pipefail
cmake=$1 check=$2; shift 2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
fail=0
for ppd in "$@"; do
  p=$(sed -n 's/^\*\(..\)FilterChain:.*/\1/p' "$ppd")
  [ "$p" = QK ] && f=PK || f=QK
  "$cmake" -DPPD="$ppd" -P "$check" >"$work/out" 2>&1 || { echo "FAIL: $ppd refused: $(cat "$work/out")"; fail=1; }
  while IFS='|' read -r keyword expr; do
    sed "$expr" "$ppd" >"$work/bad.ppd"
    cmp -s "$ppd" "$work/bad.ppd" && { echo "FAIL: $ppd: '$expr' changes nothing"; fail=1; continue; }
    if "$cmake" -DPPD="$work/bad.ppd" -P "$check" >"$work/out" 2>&1; then
      echo "FAIL: $ppd with '$expr' passes the check"; fail=1
    elif ! grep -q "keyword $keyword lacks the prefix $p" "$work/out"; then
      echo "FAIL: $ppd with '$expr' refused, but not for $keyword: $(cat "$work/out")"; fail=1
    fi
  done <<EOT
${f}FallbackThreshold|s/^\*${p}FallbackThreshold:/*${f}FallbackThreshold:/
Trapping|s/^\*Default${p}Trapping:/*DefaultTrapping:/
Skip|s/\\\$${p}Skip /\$Skip /
${f}EdgeEnhance|s/^\*OrderDependency: 50 AnySetup \*${p}EdgeEnhance/*OrderDependency: 50 AnySetup *${f}EdgeEnhance/
DlutFilePath|s/^\*${p}DlutFilePath:/*DlutFilePath:/
EOT
done
[ $fail = 0 ] && echo "checked $# PPDs"
exit $fail
