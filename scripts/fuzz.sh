#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz (or
# $ZW_FUZZ_BUILD) and runs each for a fixed time, from a copy of its seed
# corpus so the repository is never written. Fails on the first target that
# crashes, leaks or breaks an invariant; the input that did is kept and named.
#   scripts/fuzz.sh [seconds per target, default 25]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-25}"
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [seconds per target]" >&2; exit 2; }
build="${ZW_FUZZ_BUILD:-build-fuzz}"
started=$SECONDS

# clang and its sanitizer and libFuzzer runtimes, from Debian.
scripts/setup.sh --fuzz

echo "== Fuzz targets (clang, libFuzzer) in $build"
if [[ -f "$build/CMakeCache.txt" ]] && ! grep -q '^ZW_BUILD_FUZZERS:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "$build holds a build that is not for fuzzing; give another ZW_FUZZ_BUILD" >&2
  exit 1
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DZW_BUILD_FUZZERS=ON -DZW_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target zw_fuzzers
echo "== Built in $((SECONDS - started)) s"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/zw-fuzz.XXXXXX")"
trap 'rm -rf -- "$scratch"' EXIT
# One target per core at a time: each is a single process, and the time
# given is per target, so this only shortens the wait.
fuzz_one() {
  local target="$1" fuzzer="$build/fuzz/fuzz_$1"
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$scratch/artifacts/$target-" "$scratch/$target" >"$scratch/$target.log" 2>&1; then
    touch "$scratch/$target.ok"
  fi
}
failed=()
targets=()
mkdir -p "$scratch/artifacts"
for corpus in fuzz/corpus/*/; do
  target="$(basename "$corpus")"
  [[ -x "$build/fuzz/fuzz_$target" ]] || { echo "no fuzzer for corpus $corpus" >&2; failed+=("$target"); continue; }
  mkdir -p "$scratch/$target"
  cp -- "$corpus"* "$scratch/$target/"
  while (($(jobs -rp | wc -l) >= $(nproc))); do wait -n || true; done
  fuzz_one "$target" &
  targets+=("$target")
done
wait
for target in "${targets[@]}"; do
  echo "== $target: ${seconds} s"
  if [[ -f "$scratch/$target.ok" ]]; then
    grep -E '^(Done|stat::number_of_executed_units)' "$scratch/$target.log" || true
  else
    tail -n 40 "$scratch/$target.log"
    kept="${TMPDIR:-/tmp}/zw-fuzz-crash-$target"
    mkdir -p "$kept" && cp -- "$scratch/artifacts/$target-"* "$kept/" 2>/dev/null || true
    echo "FAIL: $target (inputs kept in $kept)"
    failed+=("$target")
  fi
done
# Every target has a corpus; a target without one would never run.
for fuzzer in "$build"/fuzz/fuzz_*; do
  target="$(basename "$fuzzer")"
  target="${target#fuzz_}"
  [[ -d "fuzz/corpus/$target" ]] || { echo "no corpus for $target" >&2; failed+=("$target"); }
done
echo "== Fuzzing took $((SECONDS - started)) s"
if ((${#failed[@]} > 0)); then
  echo "failed: ${failed[*]}"
  exit 1
fi
echo "all fuzz targets ran clean"
