#!/usr/bin/env bash
# Runs every fuzzer of the fuzz build for the given number of seconds each,
# growing its corpus in build/fuzz/corpus-<name> from the seeds in the tree.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-300}
shopt -s nullglob
for fuzzer in build/fuzz/tests/fuzz/*_fuzzer; do
  name=$(basename "$fuzzer")
  seeds=tests/fuzz/corpus/$name; [ -d "$seeds" ] || seeds=tests/fuzz/corpus/${name%_fuzzer}
  work=build/fuzz/corpus-$name
  mkdir -p "$work"
  echo "=== $name for ${seconds}s"
  "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$work" $( [ -d "$seeds" ] && echo "$seeds" )
done
