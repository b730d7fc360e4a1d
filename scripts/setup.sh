#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where missing.
#   scripts/setup.sh            everything scripts/test.sh needs
#   scripts/setup.sh --native   only the native build (scripts/demo.sh)
#   scripts/setup.sh --fuzz     only the fuzz targets (scripts/fuzz.sh)
set -euo pipefail

native=(cmake make g++ procps)
# The test suites, the Windows cross build under Wine, and the package check
# (build-essential and debhelper for the .deb; lintian; strace to see which
# kill the installed program starts; systemd-analyze, xmllint, groff, mandoc
# and man for the units, the task XML and the manual page; setpriv from
# util-linux, which Debian always has; zip to pack the Windows zip
# reproducibly), promtool (from prometheus) and prometheus-node-exporter for
# the metrics file and the alert rules, and clang with its libFuzzer runtime
# for the fuzz targets.
packages=("${native[@]}" libgtest-dev googletest
          g++-mingw-w64-x86-64-posix wine wine64 zip
          build-essential debhelper dpkg-dev file lintian strace systemd libxml2-utils
          groff-base mandoc man-db prometheus prometheus-node-exporter
          clang libclang-rt-dev)
fuzz=(cmake make clang libclang-rt-dev)
case "${1:-}" in
  --native) packages=("${native[@]}") ;;
  --fuzz) packages=("${fuzz[@]}") ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
