#!/bin/sh
# Runs every benchmark of a build, one after the other, on this machine.
set -eu
build=${1:-build}
for b in "$build"/bench/*_bench; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
