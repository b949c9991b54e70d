#!/usr/bin/env bash
# Compares the identifiers, dots, points and selector numbers of two builds.
# Usage: compare-builds.sh BUILD_A BUILD_B
set -euo pipefail
a=$1 b=$2
if ! cmp -s <("$a/bin/size_table") <("$b/bin/size_table"); then
  diff <("$a/bin/size_table") <("$b/bin/size_table") | head -n 20
  echo "FAIL: $a and $b print different figures" >&2
  exit 1
fi
echo "$a and $b print the same $("$a/bin/size_table" | wc -l) lines of figures"
