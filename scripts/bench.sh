#!/usr/bin/env bash
# What one check of the watchdog costs, as a whole process, next to the
# least any program can do to list the processes and next to pgrep.
#
#   scripts/bench.sh [-b BUILD_DIR] [-r RUNS] [-u UID] [N]
#
# Starts N throwaway sleepers (default 3000) under a name no other process
# has, then measures, interleaved, RUNS times each (default 15):
#   check   the built zeitwache in a temporary directory whose ZEITWACHE.INI
#           has one entry that matches nothing: one snapshot, one run-time
#           pass, no wait
#   reader  a minimal C program: for every pid, open /proc/PID/stat, read it
#           once, close it
#   pgrep   pgrep -c .
# and prints the medians of user + system CPU, the two ratios and the peak
# RSS of the check. The sleepers, and nothing else, are killed at the end.
# Without -b, zeitwache is built (Release) in build-bench. With -u (as
# root), all three run as that user through setpriv: without the right to
# signal other users' processes the check asks the kernel for it once per
# process. Exits non-zero only when the measurement cannot be set up: it is
# not a test.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=""
runs=15
user=""
usage="usage: $0 [-b BUILD_DIR] [-r RUNS] [-u UID] [N]"
while getopts "b:r:u:" option; do
  case $option in
    b) build=$OPTARG ;;
    r) runs=$OPTARG ;;
    u) user=$OPTARG ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
extra=${1:-3000}
if ! [[ $extra =~ ^[0-9]+$ && $runs =~ ^[0-9]+$ && $runs -ge 1 && $user =~ ^[0-9]*$ ]]; then
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
cleanup() {
  # Only the sleepers started here: their pids cannot be reused before they
  # are reaped by the wait below.
  if ((${#sleepers[@]})); then
    kill -KILL "${sleepers[@]}" 2>/dev/null || true
    wait "${sleepers[@]}" 2>/dev/null || true
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
cc -O2 -o "$work/runner" "$work/runner.c"
cc -O2 -o "$work/reader" "$work/reader.c"

check=$work/check
mkdir "$check"
cp "$build/zeitwache" "$check/"
# Shorter than the 15 characters the kernel keeps of a name, as most
# programs' names are: a longer one costs every lister a read of the command
# line as well.
unique=zwb$(($$ % 100000))r$RANDOM
printf '[PGM]\nPGM001=%s-matches-nothing\nAKT001=60\n' "$unique" >"$check/ZEITWACHE.INI"

cp /bin/sleep "$work/$unique"
for ((i = 0; i < extra; i++)); do
  "$work/$unique" 86400 &
  sleepers+=($!)
done
echo "started $extra sleepers named $unique; $(ls /proc | grep -c '^[0-9]') processes now"

# One sample: "cpu_us rss_kb" of one run of the command.
sample() { "$work/runner" "$@" </dev/null 2>/dev/null; }
checkCpu=() readerCpu=() pgrepCpu=() checkRss=()
for ((i = 0; i < runs; i++)); do
  read -r cpu rss < <(cd "$check" && sample "${as[@]}" ./zeitwache)
  checkCpu+=("$cpu") checkRss+=("$rss")
  read -r cpu rss < <(sample "${as[@]}" "$work/reader")
  readerCpu+=("$cpu")
  read -r cpu rss < <(sample "${as[@]}" pgrep -c .)
  pgrepCpu+=("$cpu")
done

median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
maximum() { printf '%s\n' "$@" | sort -n | tail -1; }
check=$(median "${checkCpu[@]}")
reader=$(median "${readerCpu[@]}")
pgrep=$(median "${pgrepCpu[@]}")
rss=$(maximum "${checkRss[@]}")
who=${user:+, as uid $user}
awk -v c="$check" -v r="$reader" -v p="$pgrep" -v rss="$rss" -v n="$runs" -v who="$who" 'BEGIN {
  printf "median of %d runs, user + system CPU%s\n", n, who
  printf "  check   %9.0f us\n  reader  %9.0f us\n  pgrep   %9.0f us\n", c, r, p
  printf "check / reader  %.2f\ncheck / pgrep   %.2f\n", c / r, c / p
  printf "check peak RSS  %d KiB (%.2f MiB)\n", rss, rss / 1024
}'
