#!/usr/bin/env bash
# Builds a package in a build directory of its own, without the tests:
#   scripts/package.sh deb [dir]   Debian package, default dir build-deb
#   scripts/package.sh zip [dir]   Windows zip (mingw-w64), default dir build-zip
# and prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."

kind="${1:-}"
case "$kind" in
  deb) build="${2:-build-deb}" ;;
  zip) build="${2:-build-zip}" ;;
  *)
    echo "usage: scripts/package.sh deb|zip [build dir]" >&2
    exit 2
    ;;
esac
jobs=$(nproc)

if [ "$kind" = deb ]; then
  # The flags Debian builds its own packages with (stack protector,
  # fortified functions, read-only relocations, immediate binding). CMake
  # takes no CPPFLAGS, so the preprocessor's go with the compiler's.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
  ldflags="$(dpkg-buildflags --get LDFLAGS)"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZW_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
  pattern='zeitwache_*.deb'
else
  cmake --no-warn-unused-cli -S . -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DZW_BUILD_TESTS=OFF >/dev/null
  pattern='zeitwache-*.zip'
fi
cmake --build "$build" -j "$jobs"

# Only the package made now is left, so that its name can be relied on.
find "$build" -maxdepth 1 -name "$pattern" -delete
(cd "$build" && cpack -G "${kind^^}" >/dev/null)
packages=("$build"/$pattern)
if [ ${#packages[@]} -ne 1 ] || [ ! -f "${packages[0]}" ]; then
  echo "expected one package $pattern in $build, found: ${packages[*]}" >&2
  exit 1
fi
echo "${packages[0]}"
