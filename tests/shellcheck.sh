#!/bin/sh
# Runs shellcheck on every shell script of the source tree (found by its
# first line), failing on warnings and errors.
# Usage: shellcheck.sh SOURCE_DIR
set -eu
command -v shellcheck >/dev/null || {
  echo "SKIPPED: shellcheck is not installed (apt-get install shellcheck)"
  exit 77
}
cd "$1"
scripts=$(find . -path './build*' -prune -o -path ./.git -prune -o -type f -print |
  while IFS= read -r file; do
    case $(head -n 1 "$file" 2>/dev/null) in '#!'*sh*) printf '%s\n' "$file" ;; esac
  done | sort)
# shellcheck disable=SC2086  # one path a word; the tree's names hold no blank
shellcheck -S warning $scripts
echo "$(printf '%s\n' "$scripts" | wc -l) scripts: shellcheck clean"
