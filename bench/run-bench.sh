#!/usr/bin/env bash
# Benchmarks the label-format tool on a large driver data set, FORMATS
# formats and ten times as many: an add, a replace and a delete (of the
# last format in the files) against a durable floor, a small program that
# makes the same change with the same commit protocol (copies, their
# flushes, the record, the renames, the directory's flushes), reading each
# file once; the listing against a small program that prints the same
# bytes from one read of each file. Each round restores the data set (a fresh copy of each file,
# flushed: the tool refuses a data file with a second link) and times both
# on the same state, the tool first in one round and the floor in the
# next; the figures are medians over the rounds. Then the
# peak memory of each.
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

# The durable floor: the same change and commit protocol in a few lines of
# C++, each file read once into memory (bench/durable_floor.cc).
floor=$build/durable-floor
${CXX:-c++} -O2 -std=c++20 -o "$floor" "$here/durable_floor.cc"
# The listing's floor: the same bytes from one read of each file, with the
# tool's own size conversions (bench/list_floor.cc).
list_floor=$build/list-floor
${CXX:-c++} -O2 -std=c++20 -I"$here/.." -o "$list_floor" "$here/list_floor.cc" \
  "$build/tool/libtoollib.a" "$build/lineio/liblineio.a"

bench_size() {  # FORMATS ROUNDS
  local count=$1 rounds=$2 dir=$work/$1
  rm -rf "$dir"
  generate "$dir" "$count"
  local last_id last_name inf size new_id=KsL091D0460000
  last_id=$(cat "$dir/pristine/last-id")
  last_name=$(cat "$dir/pristine/last-name")
  inf=$dir/$model/inf
  size=$(du -cb "$dir"/pristine/{func,paper,rc,area} | tail -1 | cut -f1)
  echo
  echo "data set: $count formats, $(awk -v b="$size" 'BEGIN { printf "%.1f", b / 1e6 }') MB in" \
    "four files; medians of $rounds rounds, each on a fresh copy flushed to disk"
  declare -A samples=()
  local r t op
  for ((r = 0; r < rounds; r++)); do
    for op in add replace delete; do
      local args=() floor_args=()
      case $op in
        add) args=(-n "Bench New" -w 29 -h 70) floor_args=(add "Bench New" - "$new_id") ;;
        replace) args=(-n "$last_name" -w 29 -h 70) floor_args=(replace "$last_name" "$last_id" "$new_id") ;;
        delete) args=(-d "$last_name") floor_args=(delete "$last_name" "$last_id" -) ;;
      esac
      # Who goes first changes from round to round, so that what the
      # machine still does after the restore weighs on both alike.
      local who
      for who in $( ((r % 2)) && echo "floor tool" || echo "tool floor"); do
        restore "$dir"; t=$(now)
        if [ "$who" = tool ]; then
          (cd "$dir" && ./kstapefmtlpr_lx230 -P LX-230 "${args[@]}")
        else
          "$floor" "$inf" "$model" "${floor_args[@]}"
        fi
        samples[${op}_$who]+="$(($(now) - t)) "
      done
    done
  done
  # The listing of every format, beside its floor and a cat of the files,
  # in rounds of their own: the listings it writes are not to be flushed
  # while a change is timed.
  for ((r = 0; r < rounds; r++)); do
    restore "$dir"; t=$(now)
    (cd "$dir" && ./kstapefmtlpr_lx230 -l >"$dir/listing")
    samples[list_tool]+="$(($(now) - t)) "
    t=$(now)
    "$list_floor" "$inf" "$model" >"$dir/listing.floor"
    samples[list_floor]+="$(($(now) - t)) "
    cmp -s "$dir/listing" "$dir/listing.floor" || { echo "the listing's floor printed other bytes" >&2; exit 1; }
    t=$(now)
    cat "$inf/ks${model}func" "$inf/paperinf${model}pt1" "$inf/ImagingArea" >/dev/null
    samples[list_cat]+="$(($(now) - t)) "
  done
  med() { echo ${samples[$1]} | tr ' ' '\n' | median; }
  printf '%-9s %9s %9s %11s\n' operation tool_ms floor_ms tool/floor
  for op in add replace delete; do
    printf '%-9s %9s %9s %11s\n' "$op" "$(ms "$(med ${op}_tool)")" "$(ms "$(med ${op}_floor)")" \
      "$(ratio "$(med ${op}_tool)" "$(med ${op}_floor)")"
  done
  echo "listing: $(ms "$(med list_tool)") ms; its floor $(ms "$(med list_floor)") ms" \
    "($(ratio "$(med list_tool)" "$(med list_floor)") times); a cat of the three files" \
    "$(ms "$(med list_cat)") ms"
  # Peak memory of one run of each, in kB.
  local peaks=()
  for op in add delete list; do
    restore "$dir"
    case $op in
      add) args=(-P LX-230 -n "Bench New" -w 29 -h 70) ;;
      delete) args=(-P LX-230 -d "$last_name") ;;
      list) args=(-l) ;;
    esac
    peaks+=("$op $( (cd "$dir" && /usr/bin/time -f %M ./kstapefmtlpr_lx230 "${args[@]}" 2>&1 >/dev/null | tail -1))")
  done
  echo "peak memory (kB): ${peaks[*]}"
  rm -rf "$dir"
}

rm -rf "$work"
bench_size "$formats" "$rounds"
[ "${BENCH_LARGE:-1}" = 0 ] || bench_size $((formats * 10)) 5
