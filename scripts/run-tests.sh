#!/usr/bin/env bash
# Runs every test suite (native unit tests, fuzz smoke runs, Wine end to end),
# keeps going after a failing suite, and ends with one summary line.
set -u
cd "$(dirname "$0")/.."
passed=0 failed=0 failed_suites=()
for suite in host fuzz win32; do
  [ -d "build/$suite" ] || continue
  echo "=== $suite tests"
  log=$(mktemp)
  if [ "$suite" = win32 ]; then jobs=1; else jobs=2; fi
  (cd "build/$suite" && ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"$line")
  if [ -n "$line" ]; then
    passed=$((passed + total - bad)); failed=$((failed + bad))
  fi
  if [ "$rc" -ne 0 ] || [ -z "$line" ]; then failed_suites+=("$suite"); [ -n "$line" ] || failed=$((failed + 1)); fi
  rm -f "$log"
done
echo "tests: $passed passed, $failed failed"
[ ${#failed_suites[@]} -eq 0 ] || { echo "failing suites: ${failed_suites[*]}"; exit 1; }
