#!/usr/bin/env bash
# Proves the Debian package: builds it, installs it with apt-get, runs the
# installed program as a scheduler would, checks the shipped manual page,
# systemd units and task XML, then purges the package and checks that
# nothing of it is left. It installs and removes a package, so it needs root
# and is meant for CI and throwaway machines; it refuses to run where
# zeitwache is already installed.
#   scripts/test-install.sh [build dir]      (default build-deb)
set -euo pipefail
cd "$(dirname "$0")/.."

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
strace=$(command -v strace) || fail "strace is missing (scripts/setup.sh installs it)"

# Resolved, as /proc/PID/exe shows it.
work="$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/zw-install.XXXXXX")")"
children=() # "pid program" of every throwaway started
installed_by_us=0
# runs_as PID PROGRAM: true while PID runs PROGRAM. Checked before every
# signal, since the number of an ended process may already be another's.
runs_as() { [ "$(readlink "/proc/$1/exe" 2>/dev/null)" = "$2" ]; }
cleanup() {
  for child in "${children[@]}"; do
    runs_as "${child%% *}" "${child#* }" && kill "${child%% *}" 2>/dev/null || true
  done
  if [ "$installed_by_us" = 1 ]; then apt-get purge -y -qq zeitwache >/dev/null 2>&1 || true; fi
  rm -rf -- "$work"
}
trap cleanup EXIT

# A throwaway program under a name of its own: a copy of sleep. Sets
# throwaway_pid and throwaway_name (its process name, as zeitwache shows it).
start_throwaway() {
  local name
  name="zwi$(od -An -N4 -tx1 /dev/urandom | tr -d ' \n')"
  cp "$(command -v sleep)" "$work/$name"
  "$work/$name" 300 &
  throwaway_pid=$!
  throwaway_program="$work/$name"
  children+=("$throwaway_pid $throwaway_program")
  throwaway_name="${name^^}.EXE"
}

# write_watch_list DIR NAME LIMIT
write_watch_list() {
  mkdir -p "$1"
  printf '[PGM]\nPGM001=%s\nAKT001=%s\n' "$2" "$3" >"$1/ZEITWACHE.INI"
}

step "build the package"
deb="$(scripts/package.sh deb "$build" | tail -n 1)"
echo "$deb ($(stat -c %s "$deb") bytes)"

step "lintian"
# no-copyright-file: the project states no licence yet, so there is no
# copyright file to ship; everything else that lintian reports fails the check.
lint_status=0
lint="$(lintian --fail-on error,warning --suppress-tags no-copyright-file "$deb" 2>&1)" ||
  lint_status=$?
grep -v '^running with root privileges' <<<"$lint" || true
[ "$lint_status" -eq 0 ] || fail "lintian reports errors or warnings (above)"

step "apt-get install"
installed_by_us=1
apt-get install -y -qq "$(realpath "$deb")" >/dev/null
dpkg -L zeitwache | LC_ALL=C sort >"$work/files"
# Exactly these files, nothing of the build or the tests.
expected="/usr/bin/zeitwache
/usr/libexec/zeitwache/kill
/usr/share/doc/zeitwache/README.md
/usr/share/doc/zeitwache/changelog.gz
/usr/share/doc/zeitwache/examples/ZEITWACHE.INI
/usr/share/doc/zeitwache/examples/systemd/zeitwache.service
/usr/share/doc/zeitwache/examples/systemd/zeitwache.timer
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
set +e
wait "$throwaway_pid"
status=$?
set -e
[ "$status" -gt 128 ] || fail "the overdue process ended with $status, not by a signal"

step "--help and --version"
/usr/bin/zeitwache --help >"$work/help" || fail "--help: exit code $?"
head -n 1 "$work/help" | grep -qx 'Usage: zeitwache \[/D\] \[--dry-run\]' ||
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

step "systemd units, task XML, manual page"
mkdir "$work/units"
cp /usr/share/doc/zeitwache/examples/systemd/zeitwache.service \
  /usr/share/doc/zeitwache/examples/systemd/zeitwache.timer "$work/units/"
# Checks the syntax, that ExecStart's program exists and that the manual page
# named in Documentation= is there; needs no running systemd.
systemd-analyze verify "$work/units/zeitwache.service" "$work/units/zeitwache.timer"
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
for d in /usr/libexec/zeitwache /usr/share/doc/zeitwache; do
  [ ! -e "$d" ] || { echo "left behind: $d" >&2; left=1; }
done
[ "$left" -eq 0 ] || fail "files of the package were left behind"
echo "== install check passed in $((SECONDS - started)) s"
