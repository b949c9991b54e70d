#!/usr/bin/env bash
# Benchmarks the print filter (examples/lx230-filter) with hyperfine:
#   - a job on a medium named as LPRng rewrites it (so that the tool reads
#     the whole func list to be sure no other format fits), with FORMATS
#     formats beside the 4 of a small data set: the job's cost must not
#     grow with the formats beyond reading the files once;
#   - a PostScript and a PDF job, each an A4 page scaled onto a 62 by 100
#     mm label, beside one Ghostscript run that fits the same page.
# Usage: filter-bench.sh BUILD_DIR [FORMATS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
formats=${2:-300000}
here=$(cd "$(dirname "$0")" && pwd)
tool=$build/sandboxed/kstapefmtlpr_testroot
work=$build/filter-bench
model=lx230
# shellcheck source=bench/data-set.sh
. "$here/data-set.sh"
for program in hyperfine gs pstops; do
  command -v "$program" >/dev/null ||
    { echo "filter-bench: needs $program (apt-get install hyperfine ghostscript psutils)" >&2; exit 1; }
done

# An install root per data set: the data files, the selector, the filter
# and the tool, run from the root (the test build of the tool takes the
# working directory for its root).
install_root() {  # DIR COUNT
  generate "$1" "$2"
  restore "$1"
  cp "$build/bin/kspagefit_lx230" "$here/../examples/lx230-filter" "$1/$model/lpd/"
  ln -s "$tool" "$1/$model/lpd/kstapefmtlpr_lx230"
  (cd "$1" && ./kstapefmtlpr_lx230 -P LX-230 -n 'Bench-Label' -w 62 -h 100)
}
rm -rf "$work"
mkdir -p "$work"
install_root "$work/big" "$formats"
install_root "$work/small" 4
a4=$here/../demo/a4-job.ps
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/a4.pdf" "$a4"

job() {  # ROOT FILE: the filter's command line for one job
  printf 'cd %s && KSDRIVERROOT=%s/ %s/lpd/lx230-filter -Zmedia=Bench_Label <%s >/dev/null' \
    "$1" "$1" "$model" "$2"
}
plain_gs() {  # FILE: one Ghostscript run that fits its page onto the label
  printf 'gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ps2write -dDEVICEWIDTHPOINTS=175.748 %s' \
    "-dDEVICEHEIGHTPOINTS=283.465 -dFIXEDMEDIA -dPSFitPage -dPDFFitPage -sOutputFile=$work/plain.ps $1"
}
# Rounds of a few runs of each, one after the other, each round starting
# with the next command, as the first of a round was seen to be slower.
# Each ratio is taken within a round, where the machine's state is much
# the same for both commands (here one Ghostscript run took 70 to 120 ms
# from one second to the next): the figure is the median of the rounds'
# ratios, beside their middle half.
names=("ps job at $formats formats" "ps job at 4 formats" "pdf job at 4 formats"
  "one Ghostscript run on the ps job" "one Ghostscript run on the pdf job")
commands=("$(job "$work/big" "$a4")" "$(job "$work/small" "$a4")"
  "$(job "$work/small" "$work/a4.pdf")" "$(plain_gs "$a4")" "$(plain_gs "$work/a4.pdf")")
rounds=${ROUNDS:-15}
for ((r = 0; r < rounds; r++)); do
  args=()
  for ((i = 0; i < ${#names[@]}; i++)); do
    k=$(((i + r) % ${#names[@]}))
    args+=(-n "${names[k]}" "${commands[k]}")
  done
  hyperfine --style none --warmup 1 --runs 3 --export-csv "$work/round$r.csv" "${args[@]}" >/dev/null
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
echo "filter, $rounds rounds of 3 runs, medians: ps job at $formats formats $(ms "${names[0]}") ms," \
  "at 4 formats $(ms "${names[1]}") ms; pdf job $(ms "${names[2]}") ms; one Ghostscript run" \
  "fitting the page: ps $(ms "${names[3]}") ms, pdf $(ms "${names[4]}") ms"
echo "ps job at $formats formats / at 4: $(ratio "${names[0]}" "${names[1]}") (target 1.2 or less)"
echo "ps job / its Ghostscript run: $(ratio "${names[1]}" "${names[3]}"); pdf job / its" \
  "Ghostscript run: $(ratio "${names[2]}" "${names[4]}") (target 1.2 or less for each)"
[ -n "${KS_KEEP-}" ] || rm -rf "$work"
