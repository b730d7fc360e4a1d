# Steps of run_wine_e2e.sh (sourced there) with a window program:
#   ask <bin dir> <window probe exe>    kill.exe asks with WM_CLOSE first
#   title <bin dir> <window probe exe>  a title pattern sees visible windows only

# expect_saved <what>: the probe ended by itself after saving.
expect_saved() {
  wait_probe "$probe_job" 15
  if [[ "$probe_code" == 0 && "$(tr -d '\r' <saved.txt 2>/dev/null)" == saved ]]; then
    ok "$1: closed itself and saved"
  else
    fail "$1: $probe_code, save file: $(cat saved.txt 2>/dev/null || echo none)"
  fi
}

step_ask() {
  local probe="$2" name code started
  bin="$1"
  new_work_dir
  name="$(unique_name)"
  cp "$probe" "$name.exe"
  start_probe "$name.exe" "$name" saved.txt
  wine "$bin/kill.exe" "$probe_pid" </dev/null >kill.out 2>kill.err
  code=$?
  if [[ "$code" == 0 && ! -s kill.err ]]; then ok "kill $probe_pid -> 0"; else fail "kill $probe_pid -> $code: $(cat kill.err)"; fi
  expect_saved "a program that saves on WM_CLOSE"

  start_probe "$name.exe" "$name" -
  started=$SECONDS
  wine "$bin/kill.exe" -t 2 "$probe_pid" </dev/null >kill.out 2>kill.err
  code=$?
  tr -d '\r' <kill.err >kill.msg
  if [[ "$code" == 0 && "$(cat kill.msg)" == "kill: process $probe_pid did not end within 2 s of WM_CLOSE; terminated" ]] &&
    ((SECONDS - started >= 2)); then
    ok "ignores WM_CLOSE: $(cat kill.msg) ($((SECONDS - started)) s)"
  else
    fail "ignores WM_CLOSE: kill -> $code: $(cat kill.msg)"
  fi
  wait_probe "$probe_job" 15
  [[ "$probe_code" == "still running" ]] && fail "the program that ignores WM_CLOSE is still running"

  expect_kill_refused 5 'refusing to end process 0: the Idle process' 0
}

step_title() {
  local bin="$1" probe="$2" name line
  new_work_dir
  name="$(unique_name)"
  cp "$probe" "$name.exe"
  start_probe "$name.exe" "Title ${name^^} shown" saved.txt
  # The invisible window's title is nobody's.
  write_watch_list "*HIDDEN TITLE ${name^^}*" "$kLimitSeconds"
  run_zeitwache "$bin"
  if grep -q '^Prozess beendet' zw.out; then fail "an invisible window's title matched"; else ok "invisible title not matched"; fi
  write_watch_list "*${name^^} SHOWN*" "$kLimitSeconds"
  run_zeitwache "$bin"
  expect_exit_code
  line="$(grep '^Prozess beendet: ' zw.out)"
  if [[ "$line" == "Prozess beendet: ${name^^}.EXE, $probe_pid  "* ]]; then ok "$line"; else fail "termination line '$line' (pid $probe_pid)"; fi
  expect_saved "the program matched by its title"
}
