#!/usr/bin/env bash
# Runs each fuzzer for a set time on a copy of its seed corpus.
# Usage: run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
total=0
for target in cupsjob lookup options pagefit printjob; do
  mkdir -p "$work/$target"
  cp "$here/corpus/$target"/* "$work/$target/"
  log=$work/$target.log
  if ! "$build/bin/${target}_fuzzer" -max_total_time="$seconds" -max_len=4096 \
      -artifact_prefix="$build/${target}-" "$work/$target" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzzer $target failed; the input is in $build/${target}-*" >&2
    [ -z "${CI_SUMMARY-}" ] || echo "fuzz: $target failed" >>"$CI_SUMMARY"
    exit 1
  fi
  runs=$(grep -o 'Done [0-9]* runs' "$log" | grep -o '[0-9]*' || echo 0)
  total=$((total + runs))
  echo "fuzz $target: $runs executions in ${seconds}s, no failure"
done
echo "fuzz total: $total executions"
[ -z "${CI_SUMMARY-}" ] || echo "fuzz: 5 fuzzers, $total executions, no failure" >>"$CI_SUMMARY"
