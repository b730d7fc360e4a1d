#!/usr/bin/env bash
# Builds a package in a build directory of its own, without the tests:
#   scripts/package.sh deb [dir]   Debian package with debhelper, default dir build-deb
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
  # dpkg-buildpackage writes its results beside the source tree, so it builds
  # a fresh copy inside the build directory: everything it makes stays there.
  # The copy holds what git tracks plus new files not ignored (a checkout
  # with uncommitted changes builds as it is), never earlier builds.
  version="$(dpkg-parsechangelog -S Version)"
  src="$build/zeitwache-$version"
  rm -rf -- "$build"
  mkdir -p "$src"
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi; done |
      tar --null -T - -c | tar -x -C "$src"
  else
    tar -c --exclude='./.git' --exclude='./build*' --exclude='./out' . | tar -x -C "$src"
  fi
  (cd "$src" && DEB_BUILD_OPTIONS="parallel=$jobs ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -b -us -uc >../dpkg-buildpackage.log 2>&1) || {
    tail -n 40 "$build/dpkg-buildpackage.log" >&2
    echo "dpkg-buildpackage failed; the whole log is $build/dpkg-buildpackage.log" >&2
    exit 1
  }
  pattern="zeitwache_${version}_*.deb"
else
  cmake --no-warn-unused-cli -S . -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DZW_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$jobs"
  # Only the package made now is left, so that its name can be relied on.
  find "$build" -maxdepth 1 -name 'zeitwache-*.zip' -delete
  (cd "$build" && cpack -G ZIP >/dev/null)
  pattern='zeitwache-*.zip'
fi
packages=("$build"/$pattern)
if [ ${#packages[@]} -ne 1 ] || [ ! -f "${packages[0]}" ]; then
  echo "expected one package $pattern in $build, found: ${packages[*]}" >&2
  exit 1
fi
echo "${packages[0]}"
