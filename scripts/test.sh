#!/usr/bin/env bash
# Builds and runs every test: the native build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows build under
# Wine, the fuzz targets for a fixed time, and the Debian package installed,
# run and removed again. Each suite builds in a directory of its own with the
# tests switched on, and a suite that finds no tests fails.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# The package check refuses where zeitwache is installed: say so now, not
# after ten minutes of building.
$sudo scripts/test-install.sh --preflight
scripts/setup.sh

jobs=$(nproc)
# Most tests wait on real processes rather than compute: two per core.
started=$SECONDS

echo "== Native build"
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZW_BUILD_TESTS=ON >/dev/null
cmake --build build-test -j "$jobs"
ctest --test-dir build-test -j "$((jobs * 2))" --output-on-failure --no-tests=error

echo "== Sanitizer build (ASan, UBSan)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZW_SANITIZE=ON -DZW_BUILD_TESTS=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$((jobs * 2))" --output-on-failure --no-tests=error

echo "== Windows build under Wine"
scripts/test-windows.sh build-win

echo "== Fuzz targets, a fixed time each"
scripts/fuzz.sh 6

echo "== Debian package: install, run, remove"
# It installs and purges the package, so it runs as root.
$sudo scripts/test-install.sh build-deb

echo "== All tests passed in $((SECONDS - started)) s"
