#!/bin/sh
# Runs each fuzzer of a fuzz build for a bounded time and says how many
# inputs went through without a crash.
set -eu
build=$1
seconds=${2:-60}
top=$(cd "$(dirname "$0")/.." && pwd)
status=0
for f in "$build"/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="$build/fuzz/corpus-$name"
  mkdir -p "$corpus"
  # Seed from the deliberately broken inputs the tests use.
  cp -r "$top"/tests/data/broken/. "$corpus"/ 2>/dev/null || true
  log="$build/fuzz/$name.log"
  if "$f" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 "$corpus" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    echo "$name: $runs inputs in ${seconds}s, no crash"
  else
    echo "$name: FAILED, see $log"
    status=1
  fi
done
exit $status
