#!/usr/bin/env bash
# Benchmarks the label-format tool on a large driver data set, FORMATS
# formats and ten times as many: an add, a replace and a delete (of the
# last format in the files) against a durable floor, a small program that
# makes the same change with the same commit protocol (copies, their
# flushes, the record, the renames, the directory's flushes), reading each
# file once; the listing against a C program that prints the same bytes
# from one read of each file (bench/list_floor.cc). Each round restores
# the data set (a fresh copy of each file, flushed: the tool refuses a
# data file with a second link) and times both on the same state, the tool
# first in one round and the floor in the next. The figures are medians
# over the rounds: wall time, and CPU time (user and system, the
# spooler-side tool's shell included), which the disk's flushes do not
# blur. Then the peak memory of each, and of the listing a format.
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

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ms() { awk -v ns="$1" 'BEGIN { printf "%.1f", ns / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# timed NAME COMMAND...: runs it (output to $out, default /dev/null) and
# adds its wall and CPU time, in ns, to samples[NAME] and samples[NAME_cpu].
timed() {
  local name=$1 times
  shift
  times=$( { TIMEFORMAT='%3R %3U %3S'; time "$@" >"${out:-/dev/null}"; } 2>&1 | tail -n 1)
  read -r real user sys <<<"$times"
  samples[$name]+="$(awk -v s="$real" 'BEGIN { printf "%d", s * 1e9 }') "
  samples[${name}_cpu]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%d", (u + s) * 1e9 }') "
}

# The durable floor: the same change and commit protocol in a few lines of
# C++, each file read once into memory (bench/durable_floor.cc).
floor=$build/durable-floor
${CXX:-c++} -O2 -std=c++20 -o "$floor" "$here/durable_floor.cc"
# The listing's floor: the same bytes from one read of each file
# (bench/list_floor.cc), a program of its own.
list_floor=$build/list-floor
${CXX:-c++} -O2 -std=c++20 -o "$list_floor" "$here/list_floor.cc"

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
  local r op
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
        restore "$dir"
        if [ "$who" = tool ]; then
          cd "$dir"
          timed "${op}_tool" ./kstapefmtlpr_lx230 -P LX-230 "${args[@]}"
          cd - >/dev/null
        else
          timed "${op}_floor" "$floor" "$inf" "$model" "${floor_args[@]}"
        fi
      done
    done
  done
  # The listing of every format, beside its floor and a cat of the files,
  # in rounds of their own (the listings it writes are not to be flushed
  # while a change is timed), taking turns to go first.
  for ((r = 0; r < rounds; r++)); do
    restore "$dir"
    for who in $( ((r % 2)) && echo "floor tool" || echo "tool floor"); do
      if [ "$who" = tool ]; then
        cd "$dir"
        out=$dir/listing timed list_tool ./kstapefmtlpr_lx230 -l
        cd - >/dev/null
      else
        out=$dir/listing.floor timed list_floor "$list_floor" "$inf" "$model"
      fi
    done
    cmp -s "$dir/listing" "$dir/listing.floor" || { echo "the listing's floor printed other bytes" >&2; exit 1; }
    timed list_cat cat "$inf/ks${model}func" "$inf/paperinf${model}pt1" "$inf/ImagingArea"
  done
  med() { echo ${samples[$1]} | tr ' ' '\n' | median; }
  printf '%-9s %9s %9s %11s %9s %9s %11s\n' operation tool_ms floor_ms tool/floor \
    tool_cpu floor_cpu cpu_ratio
  for op in add replace delete list; do
    printf '%-9s %9s %9s %11s %9s %9s %11s\n' "$op" "$(ms "$(med ${op}_tool)")" \
      "$(ms "$(med ${op}_floor)")" "$(ratio "$(med ${op}_tool)" "$(med ${op}_floor)")" \
      "$(ms "$(med ${op}_tool_cpu)")" "$(ms "$(med ${op}_floor_cpu)")" \
      "$(ratio "$(med ${op}_tool_cpu)" "$(med ${op}_floor_cpu)")"
  done
  echo "a cat of the three files the listing reads: $(ms "$(med list_cat)") ms"
  # Peak memory of one run of each, in kB; the listing's a format.
  local peaks=() list_kb=0
  for op in add delete list; do
    restore "$dir"
    case $op in
      add) args=(-P LX-230 -n "Bench New" -w 29 -h 70) ;;
      delete) args=(-P LX-230 -d "$last_name") ;;
      list) args=(-l) ;;
    esac
    local kb
    kb=$( (cd "$dir" && /usr/bin/time -f %M ./kstapefmtlpr_lx230 "${args[@]}" 2>&1 >/dev/null | tail -1))
    peaks+=("$op $kb")
    [ "$op" != list ] || list_kb=$kb
  done
  echo "peak memory (kB): ${peaks[*]}; the listing's, a format: $(awk -v k="$list_kb" -v n="$count" 'BEGIN { printf "%.1f", k * 1024 / n }') bytes," \
    "$(awk -v k="$list_kb" -v b="$base_kb" -v n="$count" 'BEGIN { printf "%.1f", (k - b) * 1024 / (n - 1) }') beyond the $base_kb kB of a listing of one format"
  rm -rf "$dir"
}

rm -rf "$work"
# What a listing of one format takes: the program, its buffers.
generate "$work/base" 1
restore "$work/base"
base_kb=$( (cd "$work/base" && /usr/bin/time -f %M ./kstapefmtlpr_lx230 -l 2>&1 >/dev/null | tail -1))
bench_size "$formats" "$rounds"
[ "${BENCH_LARGE:-1}" = 0 ] || bench_size $((formats * 10)) 5
