#!/usr/bin/env bash
# The Wine prefix of a Windows test run: `up` creates $WINEPREFIX (unless it
# exists) and keeps one wineserver running for all tests; `down` stops it and
# removes the prefix if `up` created it. With ZW_WINEPREFIX_KEEP=1 `down`
# does nothing: whoever set it cleans up after the run.
set -euo pipefail

: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}"
marker="$WINEPREFIX/.created-for-zeitwache-tests"

case "${1:-}" in
  up)
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
      mkdir -p "$WINEPREFIX"
      touch "$marker"
      # No Mono or Gecko: the tests need neither, and nothing may prompt.
      WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null >/dev/null 2>&1
      # Windows without a display: the null driver still lets a program
      # create and enumerate windows.
      wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
        </dev/null >/dev/null 2>&1
      wineserver -w
    fi
    # Started detached from our output: ctest waits for every process that
    # holds the test's output open, and the server and the prefix's system
    # processes outlive this test. Fails when a server already runs: fine.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wineboot </dev/null >/dev/null 2>&1
    echo "wine prefix ready: $WINEPREFIX"
    ;;
  down)
    [[ "${ZW_WINEPREFIX_KEEP:-}" == 1 ]] && exit 0
    wineserver -k 2>/dev/null || true
    if [[ -f "$marker" ]]; then
      rm -rf -- "$WINEPREFIX"
      echo "wine prefix removed: $WINEPREFIX"
    fi
    ;;
  *)
    echo "usage: $0 up|down" >&2
    exit 2
    ;;
esac
