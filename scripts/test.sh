#!/usr/bin/env bash
# Builds and runs every test: the native build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build under
# Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)

echo "== Native build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure

echo "== Sanitizer build (ASan, UBSan)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZW_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure

echo "== Windows build under Wine"
scripts/test-windows.sh build-win
