#!/usr/bin/env bash
# What the watchdog costs, as whole processes, next to the least any program
# can do to list the processes and next to pgrep.
#
#   scripts/bench.sh [-b BUILD_DIR] [-r RUNS] [-u UID] [-w SECONDS] [N]
#
# Starts N throwaway sleepers (default 3000) under a name no other process
# has, then measures, interleaved, RUNS times each (default 15):
#   check   the built zeitwache in a temporary directory whose ZEITWACHE.INI
#           has one entry that matches nothing: one snapshot, one run-time
#           pass, no wait
#   pass100 the same with 100 entries that match nothing: 100 checks
#   reader  a minimal C program: for every pid, open /proc/PID/stat, read it
#           once, close it
#   pgrep   pgrep -c .
# check and pass100 run twice: as they come (the event-fed process list
# where the system offers it) and with ZEITWACHE_LISTING=full. From them
# follows the marginal cost of one check, (pass100 - check) / 99. Then check
# runs both ways again, RUNS times, under churn: two processes that rename
# themselves without pause and one that starts and ends children without
# pause, more process events than anyone reads; its median and its worst run
# are printed. Once per
# way, the tool then waits at entry 20 for a program within its limit that
# runs for SECONDS (-w, default 30), and the CPU share of one core it takes
# is printed; last, one pass over 9999 entries that match nothing, in a
# private pid namespace (unshare, as root) where few processes run.
# Printed are the medians of user + system CPU, their ratios to the reader,
# pgrep and the full listing, and the peak RSS of the check. The sleepers
# and the churn, and nothing else, are killed at the end. Without -b,
# zeitwache is built (Release) in build-bench. With -u (as root),
# everything runs as that user through setpriv: without the right to signal
# other users' processes the check asks the kernel for it once per process,
# and without CAP_NET_ADMIN there are no process events. Exits non-zero only
# when the measurement cannot be set up: it is not a test.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=""
runs=15
user=""
waitSeconds=30
usage="usage: $0 [-b BUILD_DIR] [-r RUNS] [-u UID] [-w SECONDS] [N]"
while getopts "b:r:u:w:" option; do
  case $option in
    b) build=$OPTARG ;;
    r) runs=$OPTARG ;;
    u) user=$OPTARG ;;
    w) waitSeconds=$OPTARG ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
extra=${1:-3000}
if ! [[ $extra =~ ^[0-9]+$ && $runs =~ ^[0-9]+$ && $runs -ge 1 && $user =~ ^[0-9]*$ &&
  $waitSeconds =~ ^[1-9][0-9]*$ ]]; then
  echo "$usage" >&2
  exit 2
fi
as=()
if [[ -n $user ]]; then
  command -v setpriv >/dev/null || { echo "-u needs setpriv (util-linux)" >&2; exit 1; }
  as=(setpriv --reuid="$user" --regid="$user" --clear-groups --inh-caps=-all)
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zeitwache-bench-XXXXXX")
chmod 755 "$work"  # for -u
sleepers=()
churner=""
cleanup() {
  # Only the sleepers and the churn started here: their pids cannot be
  # reused before they are reaped by the waits below. The churn's workers
  # die with it.
  if ((${#sleepers[@]})); then
    kill -KILL "${sleepers[@]}" 2>/dev/null || true
    wait "${sleepers[@]}" 2>/dev/null || true
  fi
  if [[ -n $churner ]]; then
    kill -KILL "$churner" 2>/dev/null || true
    wait "$churner" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [[ -z $build ]]; then
  build=$repo/build-bench
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZW_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j 2 --target zeitwache >/dev/null
fi
[[ -x $build/zeitwache ]] || { echo "no zeitwache in $build" >&2; exit 1; }

# Runs a command with its output discarded, waits for it, and prints its
# user + system CPU in microseconds and its peak RSS in KiB.
cat >"$work/runner.c" <<'EOF'
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
int main(int argc, char **argv) {
  if (argc < 2) return 2;
  pid_t pid = fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, 1) < 0) _exit(127);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) return 1;
  long cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L +
             usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
  printf("%ld %ld\n", cpu, usage.ru_maxrss);
  return WIFEXITED(status) && WEXITSTATUS(status) != 127 ? 0 : 1;
}
EOF
# The least a lister of processes does: one open, one read, one close of
# every /proc/PID/stat.
cat >"$work/reader.c" <<'EOF'
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
int main(void) {
  DIR *proc = opendir("/proc");
  if (!proc) return 1;
  char path[64], buffer[4096];
  long count = 0;
  struct dirent *entry;
  while ((entry = readdir(proc)) != NULL) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    snprintf(path, sizeof path, "%s/stat", entry->d_name);
    int fd = openat(dirfd(proc), path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    if (read(fd, buffer, sizeof buffer) > 0) ++count;
    close(fd);
  }
  closedir(proc);
  printf("%ld\n", count);
  return 0;
}
EOF
# The churn: two workers renaming themselves without pause (a process event
# each time) and one starting and ending children without pause. They die
# with the parent, which only waits.
cat >"$work/churn.c" <<'EOF'
#include <signal.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
int main(void) {
  pid_t parent = getpid();
  for (int worker = 0; worker < 3; ++worker) {
    if (fork() != 0) continue;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(0);
    for (unsigned n = 0;; ++n) {
      if (worker < 2) {
        prctl(PR_SET_NAME, (n & 1) ? "zwb-churn-a" : "zwb-churn-b");
        continue;
      }
      pid_t child = fork();
      if (child == 0) _exit(0);
      if (child > 0) waitpid(child, NULL, 0);
    }
  }
  while (wait(NULL) > 0) {
  }
  return 0;
}
EOF
cc -O2 -o "$work/runner" "$work/runner.c"
cc -O2 -o "$work/reader" "$work/reader.c"
cc -O2 -o "$work/churn" "$work/churn.c"

# Shorter than the 15 characters the kernel keeps of a name, as most
# programs' names are: a longer one costs every lister a read of the command
# line as well.
unique=zwb$(($$ % 100000))r$RANDOM
# A directory holding the tool and a watch list of `count` entries that
# match nothing, the one numbered `waited` (if any) naming `waitedName`.
watchDir() {
  local dir=$1 count=$2 waited=${3:-0} n name
  mkdir "$dir"
  cp "$build/zeitwache" "$dir/"
  {
    echo '[PGM]'
    for ((n = 1; n <= count; n++)); do
      name=$unique-matches-nothing-$n
      ((n == waited)) && name=$waitedName
      if ((n < 1000)); then printf 'PGM%03d=%s\nAKT%03d=600\n' "$n" "$name" "$n"
      else printf 'PGM%d=%s\nAKT%d=600\n' "$n" "$name" "$n"; fi
    done
  } >"$dir/ZEITWACHE.INI"
}
waitedName=zwbw$RANDOM
watchDir "$work/check" 1
watchDir "$work/pass100" 100
watchDir "$work/wait20" 20 20
watchDir "$work/long" 9999

cp /bin/sleep "$work/$unique"
cp /bin/sleep "$work/$waitedName"
for ((i = 0; i < extra; i++)); do
  "$work/$unique" 86400 &
  sleepers+=($!)
done
echo "started $extra sleepers named $unique; $(ls /proc | grep -c '^[0-9]') processes now"

# One sample: "cpu_us rss_kb" of one run of the command.
sample() { "$work/runner" "$@" </dev/null 2>/dev/null; }
# The tool in directory $1, the listing forced to $2 (empty: as it comes).
tool() { (cd "$work/$1" && ZEITWACHE_LISTING=$2 sample "${as[@]}" ./zeitwache); }
declare -A cpu=() rss=()
for ((i = 0; i < runs; i++)); do
  for way in events full; do
    listing=""
    [[ $way == full ]] && listing=full
    read -r c r < <(tool check "$listing")
    cpu[check-$way]+=" $c"
    rss[$way]+=" $r"
    read -r c r < <(tool pass100 "$listing")
    cpu[pass100-$way]+=" $c"
  done
  read -r c r < <(sample "${as[@]}" "$work/reader")
  cpu[reader]+=" $c"
  read -r c r < <(sample "${as[@]}" pgrep -c .)
  cpu[pgrep]+=" $c"
done

"$work/churn" &
churner=$!
for ((i = 0; i < runs; i++)); do
  for way in events full; do
    listing=""
    [[ $way == full ]] && listing=full
    read -r c r < <(tool check "$listing")
    cpu[churn-$way]+=" $c"
  done
done
{ kill -KILL "$churner"; wait "$churner"; } 2>/dev/null || true
churner=""

median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
maximum() { printf '%s\n' "$@" | sort -n | tail -1; }
declare -A med=()
for key in "${!cpu[@]}"; do
  # shellcheck disable=SC2086
  med[$key]=$(median ${cpu[$key]})
done

# The tool waiting at entry 20 for a program within its limit: its CPU over
# the wall time of its run, in per cent of one core.
waitShare() {
  local start end c r waited
  "$work/$waitedName" "$waitSeconds" &
  waited=$!
  start=$(date +%s%N)
  read -r c r < <(tool wait20 "$1")
  end=$(date +%s%N)
  wait "$waited" 2>/dev/null || true
  awk -v c="$c" -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", 100 * c * 1000 / (e - s) }'
}
waitEvents=$(waitShare "")
waitFull=$(waitShare full)
longPass=""
if [[ $(id -u) == 0 ]] && command -v unshare >/dev/null; then
  read -r longPass r < <(cd "$work/long" && unshare -p -f --mount-proc \
    "$work/runner" ./zeitwache </dev/null 2>/dev/null) || longPass=""
fi

# shellcheck disable=SC2086
worstEvents=$(maximum ${cpu[churn-events]})
# shellcheck disable=SC2086
worstFull=$(maximum ${cpu[churn-full]})
# shellcheck disable=SC2086
rssEvents=$(maximum ${rss[events]})
# shellcheck disable=SC2086
rssFull=$(maximum ${rss[full]})
who=${user:+, as uid $user}
awk -v ce="${med[check-events]}" -v cf="${med[check-full]}" -v pe="${med[pass100-events]}" \
  -v pf="${med[pass100-full]}" -v r="${med[reader]}" -v p="${med[pgrep]}" -v re="$rssEvents" -v rf="$rssFull" \
  -v n="$runs" -v who="$who" -v we="$waitEvents" -v wf="$waitFull" -v ws="$waitSeconds" \
  -v long="$longPass" -v ue="${med[churn-events]}" -v uf="${med[churn-full]}" \
  -v wue="$worstEvents" -v wuf="$worstFull" 'BEGIN {
  printf "median of %d runs, user + system CPU%s\n", n, who
  printf "  reader  %9.0f us\n  pgrep   %9.0f us\n", r, p
  printf "%-34s %12s %12s\n", "", "events", "full"
  printf "%-34s %9.0f us %9.0f us\n", "check (one entry)", ce, cf
  printf "%-34s %9.0f us %9.0f us\n", "pass over 100 entries", pe, pf
  printf "%-34s %9.0f us %9.0f us\n", "marginal check", (pe - ce) / 99, (pf - cf) / 99
  printf "%-34s %9.0f us %9.0f us\n", "check under churn", ue, uf
  printf "%-34s %9.0f us %9.0f us\n", "check under churn, worst run", wue, wuf
  printf "%-34s %12.2f %12.2f\n", "check / full listing", ce / cf, 1
  printf "%-34s %12.2f %12.2f\n", "check under churn / full listing", ue / uf, 1
  printf "%-34s %12.2f %12.2f\n", "worst run under churn / full", wue / wuf, 1
  printf "%-34s %12.2f %12.2f\n", "check / reader", ce / r, cf / r
  printf "%-34s %12.2f %12.2f\n", "check / pgrep", ce / p, cf / p
  printf "%-34s %12.3f %12.3f\n", "marginal check / reader", (pe - ce) / 99 / r, (pf - cf) / 99 / r
  printf "%-34s %12.2f %12.2f\n", "pass over 100 entries / reader", pe / r, pf / r
  printf "%-34s %11.2f%% %11.2f%%\n", "waiting at entry 20 (" ws " s), core", we, wf
  printf "%-34s %8.2f MiB %8.2f MiB\n", "check peak RSS", re / 1024, rf / 1024
  if (long != "") printf "one pass over 9999 entries, private pid namespace: %.0f ms\n", long / 1000
}'
