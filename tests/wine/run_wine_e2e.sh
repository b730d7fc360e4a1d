#!/usr/bin/env bash
# End-to-end checks of the Windows build under Wine, one step per call:
#   package <build dir> <out dir>        zip built, unpacked to <out>/bin, checked
#   register <provider dll> | unregister  the test performance provider
#   no-provider <bin dir> <probe exe>     nothing visible: nothing waited for
#   kill <bin dir> <probe exe>            kill.exe ends one process, refuses bad ids
#   overdue <bin dir> <probe exe>         an overdue program and SAMMLER.EXE ended
#   within-limit <bin dir> <probe exe>    a program within its limit waited for
#   queries <bin dir> <probe exe>         a large process object collected
#                                         several times at the first check only
#   linked-list <bin dir> <probe exe>     a list linked into a folder others
#                                         may change is refused
#   ask, title                            see wine_ask_steps.sh
# Runs in $WINEPREFIX, which must be a prefix made for these tests: every
# process signalled is one this script started there.
set -uo pipefail

: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}"

readonly kProviderKey='HKLM\System\CurrentControlSet\Services\ZwTestPerf'
readonly kExitCode=100
readonly kLimitSeconds=2
# A probe that ends by itself exits with this code. One that was terminated
# ends with another code (Wine does not pass TerminateProcess's code on to
# the launcher), well before its own time.
readonly kProbeOwnExit=42

failures=0
jobs_started=()
work=""
outside=""

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

ok() { echo "ok: $*"; }

# Ends the probes still running. A launcher that has ended may have been
# reaped and its identifier reused, so only a process whose command line
# still names this step's unique work directory is signalled.
cleanup() {
  local job
  for job in "${jobs_started[@]}"; do
    if [[ -n "$work" ]] && grep -qF "$(basename "$work")" "/proc/$job/cmdline" 2>/dev/null; then
      kill "$job" 2>/dev/null || true
    fi
  done
  [[ -n "$work" ]] && rm -rf -- "$work"
  [[ -n "$outside" ]] && rm -rf -- "$outside"
}
trap cleanup EXIT

# Beside the unpacked programs rather than in /tmp: to Windows eyes /tmp is
# a folder anybody may empty, and a privileged run refuses a list below one.
new_work_dir() {
  work="$(mktemp -d "$(dirname "$bin")/zw-e2e.XXXXXX")"
  cd "$work" || exit 1
}

unique_name() {
  echo "zwprobe_$(od -An -N4 -tx1 /dev/urandom | tr -d ' \n')"
}

to_windows_path() {
  local path
  path="$(realpath "$1")"
  echo "Z:${path//\//\\}"
}

# start_probe <exe> <seconds> [<exit code>]: starts a copy of the probe (or
# of the window probe, given its title and save file) that lies in the work
# directory; sets probe_job (the launcher, which ends with the program and
# reports its exit code), probe_pid (its Windows process identifier) and,
# for the probe, probe_tid (its thread's).
start_probe() {
  local exe="$1" pidfile="$1.pid"
  rm -f "$pidfile"
  wine "$work/$exe" "$2" "${3:-$kProbeOwnExit}" "$pidfile" </dev/null >/dev/null 2>&1 &
  probe_job=$!
  jobs_started+=("$probe_job")
  for _ in $(seq 1 300); do
    [[ -s "$pidfile" ]] && break
    sleep 0.1
  done
  probe_pid="$(sed -n 1p "$pidfile" 2>/dev/null | tr -d '\r')"
  probe_tid="$(sed -n 2p "$pidfile" 2>/dev/null | tr -d '\r')"
  [[ -n "$probe_pid" ]] || { echo "FAIL: $exe did not start"; exit 1; }
}

# wait_probe <job> <seconds>: waits that long at most for a launcher started
# by start_probe (a child of this shell: not from a subshell); sets
# probe_code to its exit code, or to "still running".
wait_probe() {
  local job="$1"
  for _ in $(seq 1 $(($2 * 10))); do
    kill -0 "$job" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$job" 2>/dev/null; then
    probe_code="still running"
  else
    wait "$job"
    probe_code=$?
  fi
}

expect_terminated() {
  if [[ "$2" != "still running" && "$2" != "$kProbeOwnExit" ]]; then
    ok "$1 terminated (exit code $2)"
  else
    fail "$1: $2"
  fi
}

write_watch_list() {
  printf '[PGM]\r\nPGM001=%s\r\nAKT001=%s\r\n' "$1" "$2" >ZEITWACHE.INI
}

# run_zeitwache <bin dir> [args]: output (LF line ends) in zw.out, exit code
# in zw_rc, duration in zw_seconds.
run_zeitwache() {
  local bin="$1"
  shift
  local start=$SECONDS
  timeout 180 wine "$bin/zeitwache.exe" "$@" </dev/null >zw.raw 2>zw.err
  zw_rc=$?
  zw_seconds=$((SECONDS - start))
  tr -d '\r' <zw.raw >zw.out
  echo "--- zeitwache $* (exit $zw_rc, ${zw_seconds} s):"
  cat zw.out
  [[ -s zw.err ]] && { echo "--- stderr:"; cat zw.err; }
  echo "---"
}

expect_exit_code() {
  if [[ "$zw_rc" == "$kExitCode" ]]; then ok "exit code $kExitCode"; else fail "exit code $zw_rc"; fi
}

# The closing line, with a count of at least $1.
expect_process_count_at_least() {
  local last count
  last="$(tail -n 1 zw.out)"
  if [[ "$last" =~ ^Anzahl\ Prozesse\ ([0-9]+)$ ]]; then
    count="${BASH_REMATCH[1]}"
    if ((count >= $1)); then ok "$last"; else fail "$last: expected at least $1"; fi
  else
    fail "last line '$last'"
  fi
}

step_package() {
  local build="$1" out="$2" zip top
  rm -rf -- "$out"
  mkdir -p "$out"
  (cd "$build" && cpack -G ZIP -B "$out" >"$out/cpack.log") || {
    cat "$out/cpack.log"
    fail "cpack"
    return
  }
  zip="$(ls "$out"/*.zip)"
  echo "package: $zip"
  mkdir -p "$out/unpacked"
  (cd "$out/unpacked" && cmake -E tar xf "$zip") || { fail "unpacking $zip"; return; }
  top="$(ls "$out/unpacked")"
  local listed
  listed="$(cd "$out/unpacked/$top" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')"
  if [[ "$listed" == "README.txt ZEITWACHE.INI kill.exe zeitwache-task.xml zeitwache.exe zeitwache.rules.yml " ]]; then
    ok "zip holds $listed"
  else
    fail "zip holds '$listed'"
  fi
  mv "$out/unpacked/$top" "$out/bin"
  # Static runtime: nothing but DLLs that every Windows has.
  local exe dll
  for exe in "$out/bin/zeitwache.exe" "$out/bin/kill.exe"; do
    while read -r dll; do
      case "${dll,,}" in
        kernel32.dll | advapi32.dll | user32.dll | msvcrt.dll) ;;
        *) fail "$(basename "$exe") needs $dll" ;;
      esac
    done < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
  done
  ((failures == 0)) && ok "executables need only system DLLs"
  # The version resource, as UTF-16 strings: FileVersion and ProductVersion.
  local version
  version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
  for exe in "$out/bin/zeitwache.exe" "$out/bin/kill.exe"; do
    [[ "$(x86_64-w64-mingw32-strings -el "$exe" | grep -cx "$version")" -eq 2 ]] ||
      fail "$(basename "$exe") has no version information $version"
  done
  grep -q '/' "$out/bin/ZEITWACHE.INI" && fail "the Windows watch list names a path with /"
  grep -qv $'\r$' "$out/bin/README.txt" && fail "README.txt has a line without CRLF"
  for exe in "$out/bin/zeitwache.exe" "$out/bin/kill.exe"; do
    x86_64-w64-mingw32-strings "$exe" >"$out/strings.txt"
    grep -q 'level="asInvoker"' "$out/strings.txt" && grep -q '>true</longPathAware>' "$out/strings.txt" ||
      fail "$(basename "$exe") has no application manifest"
  done
  ((failures == 0)) && ok "version information $version, manifests, a Windows watch list and README.txt"
}

step_register() {
  local reg="${TMPDIR:-/tmp}/zw-provider-$$.reg" dll
  dll="$(to_windows_path "$1")"
  {
    printf 'REGEDIT4\r\n\r\n[%s\\Performance]\r\n' \
      "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\ZwTestPerf"
    printf '"Library"="%s"\r\n' "${dll//\\/\\\\}"
    printf '"Open"="ZwTestPerfOpen"\r\n"Collect"="ZwTestPerfCollect"\r\n'
    printf '"Close"="ZwTestPerfClose"\r\n"Object List"="230"\r\n'
  } >"$reg"
  if wine reg import "$(to_windows_path "$reg")" >/dev/null 2>&1; then
    ok "provider registered: $dll"
  else
    fail "reg import"
  fi
  rm -f "$reg"
}

step_unregister() {
  wine reg delete "$kProviderKey" /f >/dev/null 2>&1 || true
  if wine reg query "$kProviderKey" >/dev/null 2>&1; then
    fail "provider still registered"
  else
    ok "provider not registered"
  fi
}

step_no_provider() {
  local bin="$1" probe="$2" name
  step_unregister
  new_work_dir
  run_zeitwache "$bin"
  expect_exit_code
  if [[ "$(cat zw.out)" == "Anzahl Prozesse 0" ]]; then ok "empty directory"; else fail "empty directory output"; fi

  # A running watched program that the performance data does not show is
  # neither waited for nor ended.
  name="$(unique_name)"
  cp "$probe" "$name.exe"
  start_probe "$name.exe" 60
  write_watch_list "${name^^}" "$kLimitSeconds"
  run_zeitwache "$bin"
  expect_exit_code
  if [[ "$(cat zw.out)" == "Anzahl Prozesse 0" ]]; then ok "nothing visible"; else fail "output without provider"; fi
  if kill -0 "$probe_job" 2>/dev/null; then ok "invisible program left alone"; else fail "program ended"; fi
  wine "$bin/kill.exe" "$probe_pid" >/dev/null 2>&1
}

# expect_kill_refused <exit code> <reason> <args...>
expect_kill_refused() {
  local want="$1" reason="$2" rc
  shift 2
  wine "$bin/kill.exe" "$@" </dev/null >kill.out 2>kill.err
  rc=$?
  tr -d '\r' <kill.err >kill.msg
  if [[ "$rc" == "$want" && "$(wc -l <kill.msg)" == 1 ]] &&
    grep -q -- "$reason" kill.msg && [[ ! -s kill.out ]]; then
    ok "kill $* -> $rc: $(cat kill.msg)"
  else
    fail "kill $* -> $rc: $(cat kill.msg)"
  fi
}

step_kill() {
  local probe="$2" name code
  bin="$1"
  new_work_dir
  name="$(unique_name)"
  cp "$probe" "$name.exe"
  start_probe "$name.exe" 120
  # Told a creation time the probe does not have, kill leaves it alone: the
  # probe is still there to be ended next.
  ZEITWACHE_TARGET="$probe_pid:1" expect_kill_refused 4 'created at another time' "$probe_pid"
  # A thread's identifier names no process: refused, and its process lives on.
  expect_kill_refused 2 "refusing to end process $probe_tid: a thread, not a process" "$probe_tid"
  kill -0 "$probe_job" 2>/dev/null || fail "kill $probe_tid ended the thread's process"
  # A program without windows or a console of its own has nothing to be
  # asked through: terminated at once, and kill says so.
  wine "$bin/kill.exe" --grace=5 "$probe_pid" </dev/null >kill.out 2>kill.err
  code=$?
  if [[ "$code" == 0 ]] && grep -q "^kill: process $probe_pid has no visible window" kill.err; then
    ok "kill --grace=5 $probe_pid: $(tr -d '\r' <kill.err)"
  else
    fail "kill --grace=5 $probe_pid -> $code: $(cat kill.err)"
  fi
  wait_probe "$probe_job" 15
  expect_terminated "probe" "$probe_code"

  expect_kill_refused 2 "missing process identifier"
  expect_kill_refused 2 "too many arguments" "$probe_pid" "$probe_pid"
  expect_kill_refused 2 '"-2": must be positive' -2
  expect_kill_refused 2 '"abc": not a decimal number' abc
  expect_kill_refused 2 '"12x": unexpected characters' 12x
  expect_kill_refused 2 '"99999999999": out of range' 99999999999
  expect_kill_refused 2 'grace period "x": not a decimal number' -t x 12
  expect_kill_refused 2 '"4294967295": out of range (at most 2147483647)' 4294967295
  # The largest identifier a process could have, and a multiple of four as
  # the system's are: no process has it.
  expect_kill_refused 3 'cannot end process 2147483644: no such process' 2147483644
  expect_kill_refused 5 'refusing to end process 4: a system process' 4
}

step_overdue() {
  local bin="$1" probe="$2" name pid sammler_job sammler_pid code line
  new_work_dir
  name="$(unique_name)"
  cp "$probe" "$name.exe"
  cp "$probe" SAMMLER.EXE
  start_probe SAMMLER.EXE 120
  sammler_job=$probe_job
  sammler_pid=$probe_pid
  start_probe "$name.exe" 120
  pid=$probe_pid
  write_watch_list "${name^^}" "$kLimitSeconds"
  # Wine's event log is a stub that traces each call: that much shows here.
  WINEDEBUG=-all,fixme+advapi,trace+eventlog run_zeitwache "$bin" /metrics zeitwache.prom
  expect_exit_code
  if grep -q 'fixme:advapi:RegisterEventSourceA ((null),"ZEITWACHE")' zw.err &&
    grep -Eq 'fixme:advapi:ReportEventA \([0-9A-F]+,0x0004,0x0000,0x40000001,' zw.err &&
    grep -q "trace:eventlog:ReportEventW L\"Prozess beendet: ${name^^}.EXE, $pid " zw.err; then
    ok "termination reported to the event log as information 0x40000001"
  else
    fail "no event log entry for the termination"
  fi
  # Written at the start, then replaced (MoveFileExA) once both were judged.
  if grep -qx "zeitwache_terminations_total{entry=\"${name^^}\",result=\"ended\"} 2" zeitwache.prom &&
    grep -qx 'zeitwache_run_exit_code 100' zeitwache.prom && ! compgen -G 'zeitwache.prom.*' >/dev/null; then
    ok "metrics file written and replaced"
  else
    fail "metrics file: $(cat zeitwache.prom 2>&1)"
  fi
  line="$(grep '^Prozess beendet: ' zw.out)"
  if [[ "$line" =~ ^Prozess\ beendet:\ ${name^^}\.EXE,\ $pid\ \ \(Laufzeit=\ ([0-9]+)\ Sekunden\)$ ]] &&
    ((BASH_REMATCH[1] >= kLimitSeconds)); then
    ok "$line"
  else
    fail "termination line '$line' (pid $pid)"
  fi
  expect_process_count_at_least 3
  wait_probe "$probe_job" 15
  expect_terminated "overdue program" "$probe_code"
  wait_probe "$sammler_job" 15
  expect_terminated "SAMMLER.EXE ($sammler_pid)" "$probe_code"
}

step_within_limit() {
  local bin="$1" probe="$2" name code
  new_work_dir
  name="$(unique_name)"
  cp "$probe" "$name.exe"
  start_probe "$name.exe" 5
  write_watch_list "${name^^}" 600
  run_zeitwache "$bin" /D
  expect_exit_code
  if grep -q "^Prozess gefunden ${name^^}\.EXE, $probe_pid " zw.out && grep -q '^Wait 5 sek$' zw.out; then
    ok "found and waited for"
  else
    fail "not waited for"
  fi
  if grep -q '^Prozess beendet' zw.out; then fail "program within its limit ended"; fi
  expect_process_count_at_least 3
  wait_probe "$probe_job" 5
  if [[ "$probe_code" == "$kProbeOwnExit" ]]; then ok "program ended by itself"; else fail "program: $probe_code"; fi
}

# Collections of the process object per check, as the test provider logs
# them: the first check grows the buffer in steps until the padded object
# fits, every later check starts at the size that fit and needs one.
step_queries() {
  local bin="$1" probe="$2" name counts first later_text later=() count
  new_work_dir
  name="$(unique_name)"
  cp "$probe" "$name.exe"
  start_probe "$name.exe" 12
  write_watch_list "${name^^}" 600
  : >collect.log
  # About 100 kB of instances: three 40960-byte steps.
  export ZW_TEST_PERF_PADDING=1150 ZW_TEST_PERF_LOG="$(to_windows_path collect.log)"
  run_zeitwache "$bin"
  unset ZW_TEST_PERF_PADDING ZW_TEST_PERF_LOG
  expect_exit_code
  expect_process_count_at_least 1150
  counts="$(awk '{ n++ } $1 == "fit" { printf "%d ", n; n = 0 }' collect.log)"
  echo "collections per check: $counts"
  read -r first later_text <<<"$counts"
  read -r -a later <<<"${later_text:-}"
  if ((${#later[@]} < 2)); then
    fail "only $((${#later[@]} + 1)) checks: $counts"
    return
  fi
  if ((first >= 3)); then ok "first check: $first collections"; else fail "first check: $first collections"; fi
  for count in "${later[@]}"; do
    ((count == 1)) || { fail "a later check took $count collections: $counts"; return; }
  done
  ok "every later check: 1 collection"
}

# The list is a link into a folder everybody may change: judged where it
# really lies, it is refused as a whole. The run ends nothing, though the
# program it names is visible and over its limit, and --check names the
# folder.
step_linked_list() {
  local bin="$1" probe="$2" name folder
  new_work_dir
  name="$(unique_name)"
  cp "$probe" "$name.exe"
  start_probe "$name.exe" 120
  outside="$(mktemp -d "${TMPDIR:-/tmp}/zw-outside.XXXXXX")"
  chmod 0777 "$outside"
  (cd "$outside" && write_watch_list "${name^^}" 1)
  ln -s "$outside/ZEITWACHE.INI" ZEITWACHE.INI
  folder="$(to_windows_path "$outside")"
  run_zeitwache "$bin"
  if [[ "$zw_rc" == 2 ]] && grep -qF "watch list refused: " zw.err &&
    grep -qF "$folder is writable by other users" zw.err; then
    ok "linked list refused"
  else
    fail "linked list: exit $zw_rc"
  fi
  if kill -0 "$probe_job" 2>/dev/null; then ok "nothing ended"; else fail "program ended"; fi
  run_zeitwache "$bin" --check
  if [[ "$zw_rc" == 1 ]] && grep -qxF "Befund: Liste abgelehnt: $folder is writable by other users" zw.out; then
    ok "--check names $folder"
  else
    fail "--check: exit $zw_rc"
  fi
  wine "$bin/kill.exe" "$probe_pid" >/dev/null 2>&1
}

# shellcheck source=tests/wine/wine_ask_steps.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_ask_steps.sh"

step="${1:-}"
shift || true
case "$step" in
  package) step_package "$@" ;;
  register) step_register "$@" ;;
  unregister) step_unregister ;;
  no-provider) step_no_provider "$@" ;;
  kill) step_kill "$@" ;;
  overdue) step_overdue "$@" ;;
  within-limit) step_within_limit "$@" ;;
  queries) step_queries "$@" ;;
  linked-list) step_linked_list "$@" ;;
  ask) step_ask "$@" ;;
  title) step_title "$@" ;;
  *)
    echo "usage: $0 package|register|unregister|no-provider|kill|overdue|within-limit|queries|linked-list|ask|title ..." >&2
    exit 2
    ;;
esac
if ((failures > 0)); then
  echo "$step: $failures check(s) failed"
  exit 1
fi
echo "$step: all checks passed"
