#!/usr/bin/env bash
# Runs every test suite (native unit tests, the same under ASan and UBSan, fuzz
# smoke runs, Wine end to end), keeps going after a failing suite, and ends with
# the names of the failing suites and one summary line.
#
# A suite fails when its ctest exits non-zero, when it ran no test, or when it is
# not built. The counts come from each ctest's JUnit report: a test ctest ran and
# passed counts as passed; a failed test, or one not run for another reason than
# a skip (a failed fixture, a missing program), as failed; skipped and disabled
# tests as skipped. A suite that failed with no failed test in its report (ctest
# itself went wrong) counts one failure.
#
# JOBS (default 2) tests run at once; the Wine tests are RUN_SERIAL, so ctest runs
# them one at a time whatever JOBS says.
set -u
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}

# Prints "passed failed skipped" for a ctest JUnit report.
count_report() {
  python3 - "$1" <<'EOF'
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    status = case.get("status")
    skip = case.find("skipped")
    if status == "run":
        passed += 1
    elif status == "disabled" or (status == "notrun" and skip is not None
                                  and skip.get("message", "").startswith("SKIP_")):
        skipped += 1
    else:
        failed += 1
print(passed, failed, skipped)
EOF
}

passed=0 failed=0 skipped=0 failed_suites=()
for suite in host host-asan fuzz win32; do
  dir=build/$suite
  echo "=== $suite tests"
  if [ ! -f "$dir/CTestTestfile.cmake" ]; then
    echo "$dir is not built"
    failed=$((failed + 1)); failed_suites+=("$suite"); continue
  fi
  report=$PWD/$dir/ctest-junit.xml
  rm -f "$report"
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$jobs" --output-junit "$report")
  rc=$?
  suite_failed=0
  if [ -f "$report" ] && counts=$(count_report "$report"); then
    read -r p f s <<<"$counts"
    passed=$((passed + p)); failed=$((failed + f)); skipped=$((skipped + s)); suite_failed=$f
  fi
  if [ "$rc" -ne 0 ] || [ "$suite_failed" -ne 0 ]; then
    failed_suites+=("$suite")
    [ "$suite_failed" -ne 0 ] || failed=$((failed + 1))
  fi
done
[ ${#failed_suites[@]} -eq 0 ] || echo "failing suites: ${failed_suites[*]}"
summary="tests: $passed passed, $failed failed"
[ "$skipped" -eq 0 ] || summary+=", $skipped skipped"
echo "$summary"
[ ${#failed_suites[@]} -eq 0 ]
