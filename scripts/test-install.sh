#!/usr/bin/env bash
# Proves the Debian package: builds it twice (the two must be byte-identical),
# checks it with lintian, installs it with apt-get, checks the units, the
# conffile and the service's exposure, runs the installed program as a
# scheduler would and as an unprivileged user holding only CAP_KILL, checks
# the shipped manual page and task XML, then purges the package and checks
# that nothing of it is left. It installs and removes a package, so it needs
# root and is meant for CI and throwaway machines; it refuses to run where
# zeitwache is already installed.
#   scripts/test-install.sh [build dir]      (default build-deb)
#   scripts/test-install.sh --preflight      only the refusals, before a long build
set -euo pipefail
cd "$(dirname "$0")/.."

preflight=0
if [ "${1:-}" = --preflight ]; then
  preflight=1
  shift
fi
build="${1:-build-deb}"
started=$SECONDS
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "== install check: $*"; }

[ "$(id -u)" -eq 0 ] || fail "run as root: the check installs and removes the package"
if dpkg-query -W -f='${Status}' zeitwache 2>/dev/null | grep -q installed; then
  fail "zeitwache is installed on this machine; the check would replace and remove it"
fi
# Every overdue program is ended together with the companion program SAMMLER;
# never do that to someone else's.
if pgrep -i '^sammler([.]|$)' >/dev/null; then
  fail "a program named SAMMLER runs on this machine; the check would end it"
fi
[ "$preflight" = 0 ] || exit 0
strace=$(command -v strace) || fail "strace is missing (scripts/setup.sh installs it)"

# Resolved, as /proc/PID/exe shows it.
work="$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/zw-install.XXXXXX")")"
children=() # "pid program" of every throwaway started
installed_by_us=0
# runs_as PID PROGRAM: true while PID runs PROGRAM. Checked before every
# signal, since the number of an ended process may already be another's.
runs_as() { [ "$(readlink "/proc/$1/exe" 2>/dev/null)" = "$2" ]; }

# Reaps the throwaway; it must have ended by a signal. $1 names it.
ended_by_signal() {
  local status=0
  wait "$throwaway_pid" || status=$?
  [ "$status" -gt 128 ] || fail "$1 ended with $status, not by a signal"
}
cleanup() {
  for child in "${children[@]}"; do
    runs_as "${child%% *}" "${child#* }" && kill "${child%% *}" 2>/dev/null || true
  done
  if [ "$installed_by_us" = 1 ]; then apt-get purge -y -qq zeitwache >/dev/null 2>&1 || true; fi
  rm -rf -- "$work"
}
trap cleanup EXIT

# A throwaway program under a name of its own: a copy of sleep, started
# through the command given (e.g. setpriv), if any. Sets throwaway_pid and
# throwaway_name (its process name, as zeitwache shows it).
start_throwaway() {
  local name
  name="zwi$(od -An -N4 -tx1 /dev/urandom | tr -d ' \n')"
  cp "$(command -v sleep)" "$work/$name"
  "$@" "$work/$name" 300 &
  throwaway_pid=$!
  throwaway_program="$work/$name"
  children+=("$throwaway_pid $throwaway_program")
  # A command in front execs the program only after its own work.
  for _ in $(seq 50); do
    runs_as "$throwaway_pid" "$throwaway_program" && break
    sleep 0.1
  done
  runs_as "$throwaway_pid" "$throwaway_program" || fail "$name did not start"
  throwaway_name="${name^^}.EXE"
}

# write_watch_list DIR NAME LIMIT
write_watch_list() {
  mkdir -p "$1"
  printf '[PGM]\nPGM001=%s\nAKT001=%s\n' "$2" "$3" >"$1/ZEITWACHE.INI"
}

step "build the package twice"
build_started=$SECONDS
deb="$(scripts/package.sh deb "$build" | tail -n 1)"
# The second build, from the same sources in another directory, must give
# the same bytes: nothing of the time or the place of a build is packed.
again="$(scripts/package.sh deb "$build/again" | tail -n 1)"
echo "built twice in $((SECONDS - build_started)) s"
for pkg in "$deb" "${deb/zeitwache_/zeitwache-dbgsym_}"; do
  [ -f "$pkg" ] || fail "$pkg was not built"
  echo "$pkg: $(stat -c %s "$pkg") bytes"
  cmp "$pkg" "$build/again/$(basename "$pkg")" || fail "two builds of $(basename "$pkg") differ"
done

step "lintian"
# The .changes names both packages and the build information.
lint_status=0
lint="$(lintian --fail-on error,warning "${deb%.deb}.changes" 2>&1)" || lint_status=$?
grep -v '^running with root privileges' <<<"$lint" || true
[ "$lint_status" -eq 0 ] || fail "lintian reports errors or warnings (above)"

step "apt-get install"
installed_by_us=1
apt-get install -y -qq "$(realpath "$deb")" >/dev/null
dpkg -L zeitwache | LC_ALL=C sort >"$work/files"
# Exactly these files, nothing of the build or the tests.
expected="/etc/zeitwache/ZEITWACHE.INI
/lib/systemd/system/zeitwache.service
/lib/systemd/system/zeitwache.timer
/usr/bin/zeitwache
/usr/lib/tmpfiles.d/zeitwache.conf
/usr/libexec/zeitwache/kill
/usr/share/doc/zeitwache/README.md.gz
/usr/share/doc/zeitwache/changelog.gz
/usr/share/doc/zeitwache/copyright
/usr/share/doc/zeitwache/examples/ZEITWACHE.INI
/usr/share/doc/zeitwache/examples/prometheus/zeitwache.rules.yml
/usr/share/doc/zeitwache/examples/windows/ZEITWACHE.INI
/usr/share/doc/zeitwache/examples/windows/zeitwache-task.xml
/usr/share/man/man1/zeitwache.1.gz"
shipped="$(while read -r f; do [ -d "$f" ] || echo "$f"; done <"$work/files")"
if [ "$shipped" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$shipped") >&2 || true
  fail "the package's files differ from the expected list (< expected, > shipped)"
fi
while read -r f; do
  [ -f "$f" ] || fail "$f is listed but not installed (a dpkg path-exclude?)"
done <<<"$expected"
dpkg --verify zeitwache || fail "installed files differ from the package's checksums"

step "the conffile: a watch list with no entry"
ini=/etc/zeitwache/ZEITWACHE.INI
dpkg-query -W -f='${Conffiles}\n' zeitwache | grep -q "^ $ini " || fail "$ini is no conffile"
[ "$(grep -Ev '^[[:space:]]*(;|$)' "$ini")" = "[PGM]" ] || fail "$ini holds more than [PGM] and comments"
(cd /etc/zeitwache && /usr/bin/zeitwache --dry-run >"$work/cout" 2>&1) || true
grep -q '^Wuerde beenden' "$work/cout" && fail "a run over $ini would end a program"

step "systemd units: installed, not enabled, exposure"
units=(/lib/systemd/system/zeitwache.service /lib/systemd/system/zeitwache.timer)
# Checks the syntax, that ExecStart's program exists and that the manual page
# named in Documentation= is there; needs no running systemd.
systemd-analyze verify "${units[@]}"
links="$(find /etc/systemd/system -name 'zeitwache.*')"
[ -z "$links" ] || fail "enabled after installation: $links"
if [ -d /run/systemd/system ]; then
  for unit in zeitwache.service zeitwache.timer; do
    systemctl -q is-active "$unit" && fail "$unit was started by the installation"
  done
fi
grep -E '^(ProtectProc|ProcSubset|PrivateUsers)=' "${units[0]}" &&
  fail "the service would not see or signal other users' processes"
exposure="$(systemd-analyze security --offline=true "${units[0]}" 2>&1 |
  sed -n 's/^.*Overall exposure level for zeitwache.service: \([0-9.]*\) .*$/\1/p')"
echo "systemd-analyze security: exposure ${exposure:-unknown}"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 1.0) }' ||
  fail "the service's exposure is ${exposure:-unknown}, above 1.0"
# dh_installsystemd --no-start leaves the stop on removal to our own prerm.
grep -q '^[[:space:]]*deb-systemd-invoke stop zeitwache.timer' /var/lib/dpkg/info/zeitwache.prerm ||
  fail "removing the package would leave the timer running"

step "run the installed program: an overdue process is ended through /usr/libexec/zeitwache/kill"
start_throwaway
sleep 2 # past its limit of 1 second before the first check
write_watch_list "$work/run" "$throwaway_name" 1
# With PATH pointing nowhere, only the lookup relative to the executable can
# find kill; strace shows which kill was started.
set +e
(cd "$work/run" && PATH=/nonexistent "$strace" -f -qq -e trace=execve -o "$work/trace" \
  /usr/bin/zeitwache /D >"$work/out" 2>&1)
code=$?
set -e
grep -v '^Prozess: /' "$work/out" || true
[ "$code" -eq 100 ] || fail "exit code $code, expected 100"
grep -qF "Prozess beendet: $throwaway_name, $throwaway_pid " "$work/out" ||
  fail "no \"Prozess beendet\" line for $throwaway_name ($throwaway_pid)"
# Every kill that was started, as its path without .. and its arguments.
started_kills="$(sed -nE 's/^[0-9]+ +execve\("([^"]*\/kill)", \[(.*)\], 0x.* = 0$/\1 \2/p' \
  "$work/trace" | while read -r path args; do echo "$(realpath -m "$path") $args"; done)"
echo "kill started: ${started_kills:-none}"
grep -qx "/usr/libexec/zeitwache/kill .*, \"$throwaway_pid\"" <<<"$started_kills" ||
  fail "/usr/libexec/zeitwache/kill was not started for $throwaway_pid"
grep -vq '^/usr/libexec/zeitwache/kill ' <<<"$started_kills" &&
  fail "a kill other than /usr/libexec/zeitwache/kill was started"
runs_as "$throwaway_pid" "$throwaway_program" && fail "the overdue process still runs"
ended_by_signal "the overdue process"

step "as a user holding only CAP_KILL: another user's overdue program is ended"
# Two user ids nobody has, neither in the user database nor among the
# running processes: one owns the throwaway, the other runs the watchdog.
free_uids=()
for uid in $(seq 61000 61999); do
  if ! getent passwd "$uid" >/dev/null && ! pgrep -U "$uid" >/dev/null; then
    free_uids+=("$uid")
    [ ${#free_uids[@]} -lt 2 ] || break
  fi
done
[ ${#free_uids[@]} -eq 2 ] || fail "found no two unused user ids"
owner=${free_uids[0]} watcher=${free_uids[1]}
chmod 0755 "$work"
as_owner=(setpriv --reuid="$owner" --regid="$owner" --clear-groups)
as_watcher=(setpriv --reuid="$watcher" --regid="$watcher" --clear-groups
  --bounding-set=-all,+kill --inh-caps=-all,+kill --ambient-caps=-all,+kill)
# CAP_KILL is bit 5: the watchdog's effective set holds it and nothing else.
caps="$("${as_watcher[@]}" grep -E '^Cap(Eff|Bnd):' /proc/self/status | tr -s '\t ' ' ')"
[ "$caps" = "$(printf 'CapEff: 0000000000000020\nCapBnd: 0000000000000020')" ] ||
  fail "the watchdog's user would hold: $caps"
start_throwaway "${as_owner[@]}"
[ "$(stat -c %u "/proc/$throwaway_pid")" = "$owner" ] || fail "the throwaway does not run as $owner"
sleep 2
write_watch_list "$work/capkill" "$throwaway_name" 1
chmod -R a+rX "$work/capkill"
set +e
(cd "$work/capkill" && timeout 120 "${as_watcher[@]}" /usr/bin/zeitwache >"$work/kout" 2>&1)
code=$?
set -e
cat "$work/kout"
[ "$code" -eq 100 ] || fail "as user $watcher with CAP_KILL: exit code $code, expected 100"
grep -qF "Prozess beendet: $throwaway_name, $throwaway_pid " "$work/kout" ||
  fail "as user $watcher with CAP_KILL: no \"Prozess beendet\" line for $throwaway_name"
runs_as "$throwaway_pid" "$throwaway_program" && fail "user $owner's overdue program still runs"
ended_by_signal "user $owner's program"

step "metrics: the unit's command as its user, served by node-exporter's textfile collector"
textdir=/var/lib/prometheus/node-exporter
exporter=$(command -v prometheus-node-exporter) || fail "prometheus-node-exporter is missing (scripts/setup.sh)"
metrics=/var/lib/zeitwache/metrics
[ "$(stat -c '%U:%G %a' "$textdir")" = "root:root 755" ] ||
  fail "$textdir is $(stat -c '%U:%G %a' "$textdir") now, not root's 0755 as the exporter made it"
[ "$(readlink "$textdir/zeitwache.prom")" = "$metrics/zeitwache.prom" ] ||
  fail "$textdir/zeitwache.prom does not lead to $metrics/zeitwache.prom"
service=/lib/systemd/system/zeitwache.service
read -r -a exec_start <<<"$(sed -n 's/^ExecStart=//p' "$service")"
[ "${exec_start[*]}" = "/usr/bin/zeitwache --metrics $textdir/zeitwache.prom" ] ||
  fail "ExecStart= is ${exec_start[*]}"
group="$(sed -n 's/^SupplementaryGroups=//p' "$service")"
gid="$(getent group "$group" | cut -d: -f3)" || fail "the package made no group $group"
# The dynamic user: an unused uid, its own gid, the unit's group, CAP_KILL.
as_unit=(setpriv --reuid="$watcher" --regid="$watcher" --groups="$gid"
  --bounding-set=-all,+kill --inh-caps=-all,+kill --ambient-caps=-all,+kill)
start_throwaway "${as_owner[@]}"
sleep 2
write_watch_list "$work/metrics" "$throwaway_name" 1
chmod -R a+rX "$work/metrics"
code=0
(cd "$work/metrics" && umask 0077 && timeout 120 "${as_unit[@]}" "${exec_start[@]}" >"$work/mout" 2>&1) ||
  code=$?
cat "$work/mout"
[ "$code" -eq 100 ] || fail "the unit's command: exit code $code, expected 100"
ended_by_signal "the overdue program of the metrics run"
[ "$(stat -c '%u %a' "$metrics/zeitwache.prom")" = "$watcher 644" ] ||
  fail "zeitwache.prom is $(stat -c '%u %a' "$metrics/zeitwache.prom"), not the run's and 0644"
port=$((20000 + RANDOM % 20000))
"$exporter" --web.listen-address="127.0.0.1:$port" --collector.disable-defaults --collector.textfile \
  2>"$work/exporter" &
children+=("$! $exporter")
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
kill -0 "${children[-1]%% *}" 2>/dev/null || fail "node-exporter did not start: $(cat "$work/exporter")"
exec 3<>"/dev/tcp/127.0.0.1/$port" || fail "node-exporter does not listen on 127.0.0.1:$port"
printf 'GET /metrics HTTP/1.0\r\nHost: localhost\r\n\r\n' >&3
grep -E '^(zeitwache_|node_textfile_scrape_error)' <&3 >"$work/scrape" || true
exec 3<&-
kill "${children[-1]%% *}"
cat "$work/scrape"
grep -qx 'node_textfile_scrape_error 0' "$work/scrape" || fail "node-exporter could not read the file"
grep -qx "zeitwache_terminations_total{entry=\"$throwaway_name\",result=\"ended\"} 1" \
  "$work/scrape" || fail "node-exporter does not serve the termination"

step "--help and --version"
/usr/bin/zeitwache --help >"$work/help" || fail "--help: exit code $?"
head -n 1 "$work/help" | grep -qx 'Usage: zeitwache \[/D\] \[--dry-run | --check \[FILE\]\]' ||
  fail "--help printed: $(head -n 1 "$work/help")"
version="$(dpkg-query -W -f='${Version}' zeitwache)"
[ "$(/usr/bin/zeitwache --version)" = "zeitwache $version" ] ||
  fail "--version does not print \"zeitwache $version\""

step "--dry-run ends nothing and starts nothing"
start_throwaway
sleep 2
write_watch_list "$work/dry" "$throwaway_name" 1
set +e
(cd "$work/dry" && PATH=/nonexistent "$strace" -f -qq -o "$work/dtrace" \
  -e trace=execve,kill,tkill,tgkill,pidfd_send_signal \
  /usr/bin/zeitwache --dry-run >"$work/dout" 2>&1)
code=$?
set -e
cat "$work/dout"
[ "$code" -eq 0 ] || fail "--dry-run: exit code $code, expected 0"
head -n 1 "$work/dout" | grep -qx 'Probelauf: es wird nichts beendet' || fail "--dry-run: first line"
grep -qix "Wuerde beenden: $throwaway_name, $throwaway_pid" "$work/dout" ||
  fail "--dry-run: no \"Wuerde beenden\" line for $throwaway_name ($throwaway_pid)"
[ "$(grep -c 'execve(' "$work/dtrace")" -eq 1 ] || fail "--dry-run started a program"
grep -E '^[0-9]+ +(kill|tkill|tgkill|pidfd_send_signal)\(' "$work/dtrace" &&
  fail "--dry-run sent a signal"
runs_as "$throwaway_pid" "$throwaway_program" || fail "--dry-run ended $throwaway_name"

step "task XML, manual page"
xmllint --noout /usr/share/doc/zeitwache/examples/windows/zeitwache-task.xml
man_page=/usr/share/man/man1/zeitwache.1.gz
lint="$(zcat "$man_page" | groff -man -ww -z 2>&1)"
[ -z "$lint" ] || fail "groff: $lint"
mandoc -T lint -W warning "$man_page" || fail "mandoc -T lint (above)"
MANWIDTH=80 man zeitwache 2>/dev/null | grep -q 'zeitwache - end programs that run longer than allowed' ||
  fail "man zeitwache does not show the page"

step "apt-get purge"
apt-get purge -y -qq zeitwache >/dev/null
installed_by_us=0
dpkg-query -W -f='${Status}' zeitwache 2>/dev/null | grep -q installed &&
  fail "zeitwache is still installed"
left=0
while read -r f; do
  # Directories the package shares with the system stay.
  if [ -e "$f" ] && [ ! -d "$f" ]; then
    echo "left behind: $f" >&2
    left=1
  fi
done <"$work/files"
for d in /etc/zeitwache /usr/libexec/zeitwache /usr/share/doc/zeitwache; do
  [ ! -e "$d" ] || { echo "left behind: $d" >&2; left=1; }
done
for f in "$textdir/zeitwache.prom" /var/lib/zeitwache; do
  [ -e "$f" ] || [ -L "$f" ] && { echo "left behind: $f" >&2; left=1; }
done
[ "$left" -eq 0 ] || fail "files of the package were left behind"
echo "== install check passed in $((SECONDS - started)) s"
