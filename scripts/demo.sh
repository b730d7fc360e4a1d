#!/usr/bin/env bash
# Shows the watchdog at work: starts a throwaway program, watches it with the
# example watch list (limit 3 seconds) and lets "zeitwache /D" terminate it.
# Builds in build-demo, a directory of its own without the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --native

build=build-demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZW_BUILD_TESTS=OFF >/dev/null
# Everything that is installed: the watchdog and its kill command.
cmake --build "$build" -j "$(nproc)" >/dev/null

# The watchdog also terminates the suite's companion program, SAMMLER, with
# every overdue one; never do that to someone else's.
if pgrep -i '^sammler([.]|$)' >/dev/null; then
  echo "A program named SAMMLER runs on this machine; the demo would terminate it. Not started." >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/ZEITWACHE.INI "$work/"
cp "$(command -v sleep)" "$work/zwdemo"
(cd "$work" && exec ./zwdemo 60) &
demo=$!
echo "Started zwdemo (pid $demo); the watch list allows it 3 seconds:"
cat "$work/ZEITWACHE.INI"
sleep 1
echo "--- zeitwache /D ---"
set +e
(cd "$work" && "$OLDPWD/$build/zeitwache" /D) | grep -v '^Prozess: /'
code=${PIPESTATUS[0]}
set -e
echo "--- exit code $code"
wait "$demo" 2>/dev/null || echo "zwdemo was terminated."
