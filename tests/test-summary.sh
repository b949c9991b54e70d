#!/usr/bin/env bash
# After a ctest run: each skipped test with its reason (ctest prints the
# output of failed tests only), each part of a test that did not run and
# why, then one line: the suite's tests passed, failed and skipped. That
# last line is also appended to $CI_SUMMARY when it is set.
# Usage: test-summary.sh SUITE BUILD_DIR
set -euo pipefail
suite=$1
log=$2/Testing/Temporary/LastTest.log
[ -f "$log" ] || { echo "$suite: no test log ($log)"; exit 0; }
report=$(awk -v suite="$suite" '
  /^[0-9]+\/[0-9]+ Test: / { name = $3; reason = ""; skip = 0; output = 0; next }
  /^Output:$/ { output = 1; next }
  /^<end of output>$/ { output = 0; next }
  output && /: Skipped$/ { getline; reason = $0; skip = 1; next }
  output && /^SKIPPED: / { reason = substr($0, 10); skip = 1; next }
  output && (/: not run: / || /^NOT RUN: /) { notes = notes "  not all run: " name ": " $0 "\n"; next }
  /^Test Pass Reason:$/ { getline; if ($0 ~ /^Skip/) skip = 1; next }
  /^Test Passed\.$/ {
    if (skip) { skipped++; reasons = reasons "  skipped: " name ": " reason "\n" } else passed++
    next
  }
  /^Test Failed\.$/ { failed++; next }
  END { printf "%s%s%s: %d passed, %d failed, %d skipped\n", reasons, notes, suite, passed, failed, skipped }
' "$log")
echo "$report"
[ -z "${CI_SUMMARY-}" ] || echo "$report" | tail -n 1 >>"$CI_SUMMARY"
