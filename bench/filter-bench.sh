#!/usr/bin/env bash
# Benchmarks the print filter with hyperfine, in rounds:
#   - a PostScript job on a custom format named exactly, and by its
#     identifier, with FORMATS formats beside it and with the 4 of a small
#     data set: the format was added last, so that its lines are found
#     first (the func list from its start, the others from their end), and
#     the job must cost no more with many formats;
#   - a job on a name as LPRng rewrites it, which must be sure that no
#     other format fits and so reads the whole func list (for information);
#   - a PostScript and a PDF job, each an A4 page scaled onto a 62 by 100
#     mm label, beside one Ghostscript run that fits the same page onto it.
# Usage: filter-bench.sh BUILD_DIR [FORMATS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
formats=${2:-300000}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC2034  # used by data-set.sh
tool=$build/sandboxed/kstapefmtlpr_testroot
filter=$build/sandboxed/lx230-filter_testroot
work=$build/filter-bench
# shellcheck disable=SC2034  # used by data-set.sh
model=lx230
# shellcheck source=bench/data-set.sh
. "$here/data-set.sh"
for program in hyperfine gs; do
  command -v "$program" >/dev/null ||
    { echo "filter-bench: needs $program (apt-get install hyperfine ghostscript)" >&2; exit 1; }
done

# An install root per data set, the filter run from it (the test build
# takes the working directory for its root), the format added last.
install_root() {  # DIR COUNT
  generate "$1" "$2"
  restore "$1"
  (cd "$1" && ./kstapefmtlpr_lx230 -P LX-230 -n 'Bench-Label' -w 62 -h 100)
}
rm -rf "$work"
mkdir -p "$work/tmp"
install_root "$work/big" "$formats"
install_root "$work/small" 4
big_id=$(cd "$work/big" && ./kstapefmtlpr_lx230 -m Bench-Label | cut -f3)
small_id=$(cd "$work/small" && ./kstapefmtlpr_lx230 -m Bench-Label | cut -f3)
a4=$here/../demo/a4-job.ps
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/a4.pdf" "$a4"

job() {  # ROOT MEDIUM FILE: the filter's command line for one job
  printf 'cd %s && TMPDIR=%s exec -a lx230-filter %s -Zmedia=%s <%s >/dev/null' \
    "$1" "$work/tmp" "$filter" "$2" "$3"
}
plain_gs() {  # FILE: one Ghostscript run that fits its page onto the label
  printf 'gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ps2write -dDEVICEWIDTHPOINTS=175.748 %s' \
    "-dDEVICEHEIGHTPOINTS=283.465 -dFIXEDMEDIA -dPSFitPage -dPDFFitPage -sOutputFile=$work/plain.ps $1"
}
# Rounds of a few runs of each, one after the other, each round starting
# with the next command, as the first of a round was seen to be slower.
# Each ratio is taken within a round, where the machine's state is much
# the same for both commands (one Ghostscript run took 70 to 120 ms from
# one second to the next here): the figure is the median of the rounds'
# ratios, beside their middle half.
names=("by name at $formats formats" "by name at 4 formats" "by identifier at $formats formats"
  "by identifier at 4 formats" "pdf job at 4 formats" "one Ghostscript run on the ps job"
  "one Ghostscript run on the pdf job" "as LPRng rewrites it at $formats formats")
commands=("$(job "$work/big" Bench-Label "$a4")" "$(job "$work/small" Bench-Label "$a4")"
  "$(job "$work/big" "$big_id" "$a4")" "$(job "$work/small" "$small_id" "$a4")"
  "$(job "$work/small" Bench-Label "$work/a4.pdf")" "$(plain_gs "$a4")" "$(plain_gs "$work/a4.pdf")"
  "$(job "$work/big" Bench_Label "$a4")")
rounds=${ROUNDS:-15}
for ((r = 0; r < rounds; r++)); do
  args=()
  for ((i = 0; i < ${#names[@]}; i++)); do
    k=$(((i + r) % ${#names[@]}))
    args+=(-n "${names[k]}" "${commands[k]}")
  done
  hyperfine --shell bash --style none --warmup 1 --runs 3 --export-csv "$work/round$r.csv" "${args[@]}" >/dev/null
done
# Each round's median of a command, by name.
median_of() {  # ROUND NAME
  awk -F, -v name="$2" '$1 == name { print $4 }' "$work/round$1.csv"
}
# A over B in each round: their median, and the lower and upper quartiles.
ratio() {  # NAME-A NAME-B
  for ((r = 0; r < rounds; r++)); do
    awk -v a="$(median_of "$r" "$1")" -v b="$(median_of "$r" "$2")" 'BEGIN { print a / b }'
  done | sort -g | awk '{ v[NR] = $1 }
    END { printf "%.2f (middle half %.2f-%.2f)", v[int((NR + 1) / 2)], v[int((NR + 3) / 4)], v[int((3 * NR + 3) / 4)] }'
}
ms() {  # NAME: the median of its rounds' medians, in ms
  for ((r = 0; r < rounds; r++)); do median_of "$r" "$1"; done |
    sort -g | awk '{ v[NR] = $1 } END { printf "%.1f", v[int((NR + 1) / 2)] * 1000 }'
}
echo "filter, $rounds rounds of 3 runs, medians: by name $(ms "${names[1]}") ms at 4 formats," \
  "$(ms "${names[0]}") ms at $formats; by identifier $(ms "${names[3]}") ms, $(ms "${names[2]}") ms;" \
  "pdf job $(ms "${names[4]}") ms; one Ghostscript run fitting the page: ps $(ms "${names[5]}") ms," \
  "pdf $(ms "${names[6]}") ms; as LPRng rewrites the name at $formats: $(ms "${names[7]}") ms"
echo "a job at $formats formats / at 4: by name $(ratio "${names[0]}" "${names[1]}"), by" \
  "identifier $(ratio "${names[2]}" "${names[3]}") (target 1.05 or less)"
echo "ps job / its Ghostscript run: $(ratio "${names[1]}" "${names[5]}"); pdf job / its" \
  "Ghostscript run: $(ratio "${names[4]}" "${names[6]}") (target 1.1 or less for each)"
[ -n "${KS_KEEP-}" ] || rm -rf "$work"
