#!/usr/bin/env bash
# A real run with --metrics: the overdue program is ended, promtool accepts
# the file, node-exporter's textfile collector serves it. Starts itself
# again as pid 1 of a private pid namespace, so that the run sees and can
# end only what this script starts. Exit 77: skipped (not root).
set -euo pipefail
if [ $$ -ne 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "needs root for a pid namespace"; exit 77; }
  exec unshare -p -f --mount-proc bash "$0" "$@"
fi
fail() { echo "FAIL: $*" >&2; exit 1; }
promtool=$(command -v promtool) || fail "promtool is missing (scripts/setup.sh)"
exporter=$(command -v prometheus-node-exporter) || fail "prometheus-node-exporter is missing"
work="$(mktemp -d "${TMPDIR:-/tmp}/zw-metrics.XXXXXX")"
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/textfile"
file="$work/textfile/zeitwache.prom"
counter='zeitwache_terminations_total{entry="ZWMETRIC",result="ended"} 1'

cp "$(command -v sleep)" "$work/zwmetric"
"$work/zwmetric" 300 &
program=$!
sleep 1.5
printf '[PGM]\nPGM001=zwmetric\nAKT001=1\n' >"$work/ZEITWACHE.INI"
code=0
(cd "$work" && "$1" --metrics "$file" >"$work/out" 2>&1) || code=$?
cat "$work/out" "$file"
[ "$code" -eq 100 ] || fail "exit code $code"
grep -q "^Prozess beendet: ZWMETRIC.EXE, $program " "$work/out" || fail "no termination line"
status=0
wait "$program" || status=$?
[ "$status" -gt 128 ] || fail "the overdue program ended with $status, not by a signal"
"$promtool" check metrics <"$file" || fail "promtool rejects the file"
grep -qx "$counter" "$file" || fail "the termination is not counted"

# Only the textfile collector, on a port of the loopback nobody else uses.
scrape() (
  exec 3<>"/dev/tcp/127.0.0.1/$1" || exit 1
  printf 'GET /metrics HTTP/1.0\r\nHost: localhost\r\n\r\n' >&3
  cat <&3
)
for port in $((20000 + RANDOM % 20000)) $((20000 + RANDOM % 20000)); do
  "$exporter" --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$work/textfile" 2>"$work/exporter" &
  for _ in $(seq 50); do
    scrape "$port" >"$work/scrape" 2>/dev/null && break
    sleep 0.1
  done
  grep -q '^zeitwache_' "$work/scrape" 2>/dev/null && break
  kill $! 2>/dev/null || true
done
grep -E '^(zeitwache_|node_textfile_scrape_error)' "$work/scrape" || fail "node-exporter served nothing"
grep -qx 'node_textfile_scrape_error 0' "$work/scrape" || fail "node-exporter could not read the file"
grep -qx "$counter" "$work/scrape" || fail "node-exporter does not serve the counter"
