#!/usr/bin/env bash
# Benchmarks the label-format tool on a large driver data set against
#   the floor: copying each touched file to a temporary file and renaming it
#              over (cat and mv),
#   the durable floor: the same with the copy flushed to disk before the
#              rename (cat, sync FILE, mv), as the tool does, and
#   a peer:    GNU sed -i making the same edits.
# Each round restores the data set (a fresh copy of each file, flushed: the
# tool refuses a data file with a second link) and times the three
# contenders on the same state; the figures are medians over the rounds.
# Then the listing (-l) of the whole data set, and the peak memory of each.
# Usage: run-bench.sh BUILD_DIR [FORMATS] [ROUNDS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
formats=${2:-300000}
rounds=${3:-7}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC2034  # used by data-set.sh
tool=$build/sandboxed/kstapefmtlpr_testroot   # the tool, rooted at the working directory
work=$build/bench
model=lx230
# shellcheck source=bench/data-set.sh
. "$here/data-set.sh"

now() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ms() { awk -v ns="$1" 'BEGIN { printf "%.1f", ns / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

floor_copy() {  # the touched files, copied and renamed over
  for f in "$@"; do cat "$f" >"$f.tmp" && mv "$f.tmp" "$f"; done
}

durable_copy() {  # the same, each copy flushed to disk first
  for f in "$@"; do cat "$f" >"$f.tmp" && sync "$f.tmp" && mv "$f.tmp" "$f"; done
}

rm -rf "$work"
generate "$work" "$formats"
last_id=$(cat "$work/pristine/last-id")
last_name=$(cat "$work/pristine/last-name")
inf=$work/$model/inf
func=$inf/ks${model}func paper=$inf/paperinf${model}pt1 rc=$inf/ks${model}rc area=$inf/ImagingArea
size=$(du -cb "$work"/pristine/{func,paper,rc,area} | tail -1 | cut -f1)
echo "data set: $formats formats, $(awk -v b="$size" 'BEGIN { printf "%.1f", b / 1e6 }') MB in four files; $rounds rounds"

declare -A samples
for ((r = 0; r < rounds; r++)); do
  # Delete of the last format.
  restore "$work"; t=$(now)
  (cd "$work" && ./kstapefmtlpr_lx230 -P LX-230 -d "$last_name")
  samples[delete_tool]+="$(($(now) - t)) "
  grep -q "$last_id" "$func" && { echo "delete did not happen" >&2; exit 1; }
  restore "$work"; t=$(now)
  floor_copy "$func" "$paper" "$rc" "$area"
  samples[delete_floor]+="$(($(now) - t)) "
  restore "$work"; t=$(now)
  durable_copy "$func" "$paper" "$rc" "$area"
  samples[delete_durable]+="$(($(now) - t)) "
  restore "$work"; t=$(now)
  sed -i "/$last_id/d" "$func" "$paper" "$area" && sed -i "s/.*$last_id.*/MediaSize=29x90/" "$rc"
  samples[delete_sed]+="$(($(now) - t)) "

  # Add of a new format.
  restore "$work"; t=$(now)
  (cd "$work" && ./kstapefmtlpr_lx230 -P LX-230 -n "Bench New" -w 29 -h 70)
  samples[add_tool]+="$(($(now) - t)) "
  grep -q "/Bench New:" "$paper" || { echo "add did not happen" >&2; exit 1; }
  restore "$work"; t=$(now)
  floor_copy "$func" "$paper" "$area"
  samples[add_floor]+="$(($(now) - t)) "
  restore "$work"; t=$(now)
  durable_copy "$func" "$paper" "$area"
  samples[add_durable]+="$(($(now) - t)) "
  restore "$work"; t=$(now)
  sed -i '/\[CustomTape\]/a KsL091D0460000/Bench New' "$func" &&
    sed -i '$a KsL091D0460000/Bench New:\t306\t754' "$paper" &&
    sed -i '$a KsL091D0460000\t:\t4.32\t8.40\t77.76\t189.72' "$area"
  samples[add_sed]+="$(($(now) - t)) "

  # The listing of every format, beside reading the three files once.
  restore "$work"; t=$(now)
  (cd "$work" && ./kstapefmtlpr_lx230 -l >/dev/null)
  samples[list_tool]+="$(($(now) - t)) "
  t=$(now)
  cat "$func" "$paper" "$area" >/dev/null
  samples[list_cat]+="$(($(now) - t)) "
done

peak() {  # peak resident memory of the tool in kB for one delete and one add
  restore "$1"
  (cd "$1" && /usr/bin/time -f %M ./kstapefmtlpr_lx230 -P LX-230 -d "$(cat pristine/last-name)" 2>&1 >/dev/null | tail -1)
  restore "$1"
  (cd "$1" && /usr/bin/time -f %M ./kstapefmtlpr_lx230 -P LX-230 -n "Bench New" -w 29 -h 70 2>&1 >/dev/null | tail -1)
  (cd "$1" && /usr/bin/time -f %M ./kstapefmtlpr_lx230 -l 2>&1 >/dev/null | tail -1)
}

med() { echo ${samples[$1]} | tr ' ' '\n' | median; }
printf '\n%-9s %8s %9s %11s %7s %11s %13s %9s\n' operation tool_ms floor_ms durable_ms \
  sed_ms tool/floor tool/durable tool/sed
for op in delete add; do
  tool_ns=$(med ${op}_tool) floor_ns=$(med ${op}_floor)
  durable_ns=$(med ${op}_durable) sed_ns=$(med ${op}_sed)
  printf '%-9s %8s %9s %11s %7s %11s %13s %9s\n' "$op" "$(ms "$tool_ns")" "$(ms "$floor_ns")" \
    "$(ms "$durable_ns")" "$(ms "$sed_ns")" "$(ratio "$tool_ns" "$floor_ns")" \
    "$(ratio "$tool_ns" "$durable_ns")" "$(ratio "$tool_ns" "$sed_ns")"
done

small=$build/bench-small
rm -rf "$small"
generate "$small" $((formats / 100))
echo "listing of all $formats formats: $(ms "$(med list_tool)") ms; cat of the three files:" \
  "$(ms "$(med list_cat)") ms; $(ratio "$(med list_tool)" "$(med list_cat)") times as long"
read -r big_delete big_add big_list <<<"$(peak "$work" | paste -sd' ')"
read -r small_delete small_add small_list <<<"$(peak "$small" | paste -sd' ')"
echo
echo "peak memory of the tool (kB): delete $big_delete, add $big_add, list $big_list with" \
  "$formats formats; delete $small_delete, add $small_add, list $small_list with $((formats / 100))"
rm -rf "$small"
