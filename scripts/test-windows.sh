#!/usr/bin/env bash
# The Windows build and its tests: cross-compiles with mingw-w64 into
# build-win (or the directory given), packs the zip, and runs the tests under
# Wine in a throwaway prefix that is removed afterwards.
#   scripts/test-windows.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build-win}"
jobs=$(nproc)
started=$SECONDS

scratch="$(mktemp -d "${TMPDIR:-/tmp}/zw-wine.XXXXXX")"
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all ZW_WINEPREFIX_KEEP=1
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf -- "$scratch"
}
trap cleanup EXIT

echo "== Windows build (mingw-w64) in $build"
# The toolchain counts only when a build directory is first configured.
if [[ -f "$build/CMakeCache.txt" ]] &&
  ! grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw-w64-x86_64.cmake' "$build/CMakeCache.txt"; then
  echo "$build holds a build that is not for Windows; give another directory" >&2
  exit 1
fi
cmake --no-warn-unused-cli -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZW_BUILD_TESTS=ON -DZW_WINEPREFIX="$WINEPREFIX" >/dev/null
cmake --build "$build" -j "$jobs"
# The test wine_package checks what the zip holds.
(cd "$build" && cpack -G ZIP | grep -F 'package:')

echo "== The zip again, from another folder"
# Nothing of the time or the place of a build is packed: the shipped
# programs built once more elsewhere give the same zip, byte for byte.
again="$scratch/again"
cmake --no-warn-unused-cli -S . -B "$again" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZW_BUILD_TESTS=OFF >/dev/null
cmake --build "$again" -j "$jobs" --target zeitwache kill >/dev/null
(cd "$again" && cpack -G ZIP >/dev/null)
for zip in "$build"/zeitwache-*.zip; do
  if ! cmp "$zip" "$again/$(basename "$zip")"; then
    echo "two builds of $(basename "$zip") differ" >&2
    exit 1
  fi
  echo "$(basename "$zip"): built twice, the same $(stat -c %s "$zip") bytes"
done

echo "== Wine prefix"
# Made before ctest starts: listing discovered tests already runs Wine.
bash tests/wine/wine_prefix.sh up

echo "== Windows tests under Wine"
ctest --test-dir "$build" -j "$jobs" --output-on-failure --no-tests=error
echo "== Windows build and tests took $((SECONDS - started)) s"
