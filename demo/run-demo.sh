#!/usr/bin/env bash
# Walks through one add and one delete of a custom label format on a sample
# LX-230 driver data set, in a sandbox under the build directory.
set -euo pipefail

build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$build" && pwd)
root=$build/demo/root
model=lx230
inf=$root/$model/inf
tool=$build/sandboxed/kstapefmtlpr_demoroot

# The demo copy of the tool is built with its install root at $root.
rm -rf "$build/demo"
mkdir -p "$inf" "$root/$model/lpd" "$build/demo/before"
cp "$here"/sample/* "$inf/"
cp "$here"/sample/* "$build/demo/before/"
cp "$here/../testing/kstapefmtcups" "$root/$model/lpd/"
: >"$root/$model/lpd/kstapefmtcups.log"
# Run as root, the tool wants the installation root's alone, whatever the
# umask made of it.
chmod -R go-w "$root"

# The tool picks its printer model from its own name.
run_tool() {
  local status=0
  (exec -a kstapefmtlpr_lx230 "$tool" "$@") || status=$?
  echo "  (exit status $status)"
}

spooler_calls() {
  # The stand-in logs each call as a count line and zero-terminated arguments;
  # show each argument in brackets.
  local log=$root/$model/lpd/kstapefmtcups.log count arg line i
  while IFS= read -r count; do
    line="    kstapefmtcups"
    for ((i = 0; i < count; i++)); do
      IFS= read -r -d '' arg
      line+=" [$arg]"
    done
    echo "$line"
  done <"$log"
  : >"$log"
}

banner() { printf '\n=== %s ===\n' "$*"; }

banner "Sample data set for the LX-230 in $inf"
ls -l "$inf"

banner 'Add: kstapefmtlpr_lx230 -P LX-230 -n "New Label Format" -w 29 -h 70'
run_tool -P LX-230 -n "New Label Format" -w 29 -h 70
echo "  The spooler-side tool (a stand-in here) was asked for:"
spooler_calls
for file in kslx230func paperinflx230pt1 kslx230rc ImagingArea; do
  echo
  echo "--- changes in $file:"
  diff "$build/demo/before/$file" "$inf/$file" | sed 's/^/    /' || true
done
echo
echo "--- permissions after the rewrite (every rewritten file is rw for all):"
ls -l "$inf" | sed 's/^/    /'

banner 'List the formats: kstapefmtlpr_lx230 -l'
run_tool -l

banner 'Delete: kstapefmtlpr_lx230 -P LX-230 -d "New Label Format"'
run_tool -P LX-230 -d "New Label Format"
echo "  The spooler-side tool was asked for:"
spooler_calls
if diff -r "$build/demo/before" "$inf" >/dev/null; then
  echo "  The content of every data file is back exactly as it was."
else
  echo "  UNEXPECTED: the data set differs from the sample:"
  diff -r "$build/demo/before" "$inf" || true
  exit 1
fi

banner 'Delete a format that does not exist: kstapefmtlpr_lx230 -P LX-230 -d Nothing'
run_tool -P LX-230 -d Nothing
: >"$root/$model/lpd/kstapefmtcups.log"

banner 'A malformed command line prints the usage text'
run_tool -P LX-230 -n "No Size"

# The page-fit selector, as the print filter runs it.
selector=$build/bin/kspagefit_lx230
pagesize=$build/demo/pagesize
banner 'Page-fit selector: a job whose page size is known'
printf '*PageSize[82 144]\n*Resolution 300dpi\n' >"$pagesize"
echo "  page-size file: *PageSize[82 144]"
echo "  kspagefit_lx230 1 2 3 4 5 600 psfit job.ps fitted.ps $pagesize"
"$selector" 1 2 3 4 5 600 psfit job.ps fitted.ps "$pagesize" | sed 's/^/    /'
echo

banner 'Page-fit selector: no page size, so the job is copied'
printf '*Resolution 300dpi\n' >"$pagesize"
echo "  kspagefit_lx230 1 2 3 4 5 600 psfit job.ps fitted.ps $pagesize"
"$selector" 1 2 3 4 5 600 psfit job.ps fitted.ps "$pagesize" | sed 's/^/    /'
echo

# The print filter, built with its install root at the demo's, prints an
# A4 job on the custom format "Shipping 62" (62 by 100 mm) chosen by name;
# the job before and after, as a picture.
banner 'Print an A4 job on a custom format by name (lx230-filter)'
if command -v gs >/dev/null; then
  filter=$build/sandboxed/lx230-filter_demoroot
  printed=$build/demo/printed.ps picture=$build/demo/media-fit.png
  echo "  For lpr -P LX-230 -Z 'media=Shipping 62' demo/a4-job.ps, lpd would run the"
  echo "  queue's filter; the demo runs it directly, with no lpd:"
  echo "  lx230-filter '-Zmedia=Shipping 62' < demo/a4-job.ps > $printed"
  (exec -a lx230-filter "$filter" '-Zmedia=Shipping 62') <"$here/a4-job.ps" >"$printed"
  echo "  What the printer gets asks for the label's size, on every page:"
  grep -a -E '^%%(BoundingBox|DocumentMedia)' "$printed" | sed 's/^/    /'
  # 62 by 100 mm in points.
  gs -q -dSAFER -dBATCH -dNOPAUSE --permit-file-read="$here/" --permit-file-read="$build/demo/" \
    -sDEVICE=png16m -r110 -dDEVICEWIDTHPOINTS=580 -dDEVICEHEIGHTPOINTS=420 -dFIXEDMEDIA \
    -dPW=595 -dPH=842 -dLW=175.748 -dLH=283.465 \
    -sCAPTION='(printed on "Shipping 62", 62 x 100 mm)' \
    -sBEFORE="$here/a4-job.ps" -sAFTER="$printed" -sOutputFile="$picture" "$here/show-media.ps"
  echo "  Before and after, at one scale, with the sizes in mm: $picture"
else
  echo "  (no picture: it needs gs, from the package ghostscript)"
fi
