#!/usr/bin/env bash
# Runs every installed name of the tool and the selector under ROOT, the
# install root the programs were built with: lays out a data set for each
# model, adds a format with each tool name, lists it, and checks that each
# changed only its own model's files, that each delete removes it again and
# that each selector name answers.
# Usage: run-installed.sh SOURCE_DIR ROOT
set -euo pipefail
src=$1 root=${2%/}/
fail() { echo "FAIL: $*" >&2; exit 1; }
models=(lx210 lx220 lx230 lx240pc)

for m in "${models[@]}"; do
  mkdir -p "$root$m/inf"
  cp "$src/testing/kstapefmtcups" "$root$m/lpd/"
  printf '[CustomTape]\n' >"$root$m/inf/ks${m}func"
  : >"$root$m/inf/paperinf${m}pt1"
  : >"$root$m/inf/ks${m}rc"
  : >"$root$m/inf/ImagingArea"
done
pagesize=$(mktemp)
trap 'rm -f "$pagesize"' EXIT
printf 'PageSize[82 144]\n' >"$pagesize"
fit=$(printf 'PSCOMMAND=psfit\nCMDARGV=-w82.000000 -h144.000000 1:0@1.0(-0.060000in,0.118110in) in out')
for m in "${models[@]}"; do
  "$root$m/lpd/kstapefmtlpr_$m" -P LX -n "Label of $m" -w 29 -h 70 ||
    fail "kstapefmtlpr_$m exited with $?"
  listing=$("$root$m/lpd/kstapefmtlpr_$m" -l)
  tab=$(printf '\t')
  [[ "$listing" =~ ^"Label of $m"${tab}29x70${tab}KsL[0-9A-F]{12}${tab}ok$ ]] ||
    fail "kstapefmtlpr_$m -l printed: $listing"
  out=$("$root$m/lpd/kspagefit_$m" 1 2 3 4 5 600 psfit in out "$pagesize")
  [ "$out" = "$fit" ] || fail "kspagefit_$m printed: $out"
done
for m in "${models[@]}"; do
  for other in "${models[@]}"; do
    if grep -q "/Label of $other\$" "$root$m/inf/ks${m}func"; then
      [ "$m" = "$other" ] || fail "kstapefmtlpr_$other wrote into $m"
    else
      [ "$m" != "$other" ] || fail "kstapefmtlpr_$m did not write into $m"
    fi
  done
  "$root$m/lpd/kstapefmtlpr_$m" -P LX -d "Label of $m" || fail "delete with kstapefmtlpr_$m"
  [ "$(cat "$root$m/inf/ks${m}func")" = "[CustomTape]" ] || fail "delete left lines in $m"
done
echo "each installed name serves its own model: ok"
