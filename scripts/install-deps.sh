#!/usr/bin/env bash
# Installs, non-interactively, the Debian packages that building and testing
# the driver need, when any of them is missing.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  libcups2-dev libcupsimage2-dev libpng-dev
  cups-client cups-ppdc
  cups cups-daemon cups-ipp-utils cups-filters ghostscript python3-minimal
  dpkg-dev file lintian
  valgrind
  libpappl-dev chromium
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# The driver needs CUPS's programs, not a running system cupsd: keep the
# packages' install scripts from starting services (the tests start their
# own private cupsd).
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  trap '$sudo rm -f "$policy"' EXIT
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 "${missing[@]}"
