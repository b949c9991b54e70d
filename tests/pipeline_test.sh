#!/usr/bin/env bash
# Prints four jobs through a real LPRng queue whose input filter is
# examples/lx230-filter, and checks what reaches the printer: a label of
# 82 by 144 pt, a label of 62 by 100 mm with lpr -Z length=1181, a Letter
# page known only by its %%BoundingBox, and a job without a page size. The
# page size and offset that pstops applied, and the shift that Ghostscript's
# bbox device measures, must be what the selector's figures mean; the job
# without a page size must arrive byte for byte as it was sent.
#
# lpd runs on its local socket only (no TCP port), in a private mount
# namespace in which our own /etc/lprng stands over the machine's, so that
# the machine's printcap, spool directories and running spooler are left as
# they were.
# Usage: pipeline_test.sh SOURCE_DIR KSPAGEFIT
# Exits 77 (skipped) when not root or when a tool is missing.
set -euo pipefail
src=$1 selector=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }

if [ "${1-}" != --inside ]; then
  [ "$(id -u)" = 0 ] || skip "needs root (lpd, a private mount namespace)"
  for tool in lpd lpr checkpc pstops gs unshare; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
  done
  [ -d /etc/lprng ] || skip "LPRng's /etc/lprng is missing"
  # lpd runs the filter as the user daemon: everything it needs lies in a
  # directory that user can reach, whatever TMPDIR is.
  work=$(mktemp -d /tmp/pipeline-test.XXXXXX)
  trap '[ -n "${KS_KEEP-}" ] || rm -rf "$work"' EXIT
  chmod 755 "$work"
  unshare -m bash ${KS_TRACE:+-x} "$0" --inside "$src" "$selector" "$work"
  exit
fi
shift
src=$1 selector=$2 work=$3

mount --make-rprivate /
mkdir -p "$work/etc" "$work/spool" "$work/run" "$work/out" "$work/bin" "$work/jobs"
cp /etc/lprng/lpd.perms "$work/etc/"
cp "$selector" "$work/bin/kspagefit_lx230"
cp "$src/examples/lx230-filter" "$work/bin/"
cat >"$work/bin/filter" <<SH
#!/bin/sh
KSPAGEFIT=$work/bin/kspagefit_lx230 exec $work/bin/lx230-filter "\$@"
SH
# The printer: each job's data into a file of its own, whole or not at all.
cat >"$work/bin/printer" <<SH
#!/bin/sh
tmp=\$(mktemp $work/out/.job.XXXXXX) && cat >"\$tmp" && mv "\$tmp" "$work/out/\${tmp##*/.}.ps"
SH
chmod 755 "$work/bin"/*
chown daemon "$work/out" "$work/run"
cat >"$work/etc/lpd.conf" <<CONF
lpd_listen_port=off
unix_socket_path=$work/run/socket
lockfile=$work/run/lpd
printcap_path=$work/etc/printcap
CONF
cat >"$work/etc/printcap" <<CAP
LX-230
    :sd=$work/spool/%P
    :lp=|$work/bin/printer
    :if=$work/bin/filter
    :sh:mx=0
CAP
mount --bind "$work/etc" /etc/lprng

# The jobs, each known by its title. A filled rectangle well inside the page
# shows where the page went.
job() {  # title, page-size lines
  printf '%%!PS-Adobe-3.0\n%s%%%%Title: %s\n%%%%Pages: 1\n%%%%EndComments\n' "$2" "$1"
  printf '%%%%Page: 1 1\nnewpath 20 30 moveto 40 0 rlineto 0 60 rlineto -40 0 rlineto closepath fill\n'
  printf 'showpage\n%%%%EOF\n'
}
job label-82x144 $'%%BoundingBox: 0 0 82 144\n' | sed '/^%%Page:/i << /PageSize [82 144] >> setpagedevice' >"$work/jobs/a.ps"
job label-62x100mm '' | sed '/^%%Page:/i << /PageSize [175.748 283.465] >> setpagedevice' >"$work/jobs/b.ps"
job letter $'%%BoundingBox: 0 0 612 792\n' >"$work/jobs/c.ps"
job no-size '' >"$work/jobs/d.ps"

# The filter on its own: a selector that prints nothing, something else, a
# command other than pstops or cp, or files not the filter's own, fails the
# job (status 2, one line on standard error) and runs nothing.
printf '#!/bin/sh\ncat %s/decision\n' "$work" >"$work/bin/bad-selector"
chmod 755 "$work/bin/bad-selector"
refused() {  # what the selector prints (printf format)
  # shellcheck disable=SC2059
  printf "$1" >"$work/decision"
  local status=0 err
  err=$(KSPAGEFIT=$work/bin/bad-selector "$work/bin/lx230-filter" <"$work/jobs/a.ps" 2>&1 >/dev/null) ||
    status=$?
  if [ "$status" != 2 ] || [ "$(echo "$err" | wc -l)" != 1 ] || [ -e "$work/ran" ]; then
    fail "selector printing [$1]: status $status, $err"
  fi
  echo "  refused: $err"
}
refused ''
refused 'nonsense'
refused "PSCOMMAND=touch\nCMDARGV=$work/ran"
refused "PSCOMMAND=cp\nCMDARGV=-f /etc/passwd $work/ran"
refused "PSCOMMAND=cp\nCMDARGV=-f a b\nPSCOMMAND=touch"
echo "the filter refuses what it must not run: ok"

checkpc -f >/dev/null 2>&1 || true  # makes the spool directory; warns as it fixes
lpd -F >"$work/lpd.log" 2>&1 &
lpd=$!
trap 'kill $lpd 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -S "$work/run/socket" ] && break; sleep 0.1; done
[ -S "$work/run/socket" ] || fail "lpd did not start: $(cat "$work/lpd.log")"

lpr -P LX-230 "$work/jobs/a.ps"
lpr -P LX-230 -Z length=1181 "$work/jobs/b.ps"
lpr -P LX-230 "$work/jobs/c.ps"
lpr -P LX-230 "$work/jobs/d.ps"
for _ in $(seq 300); do
  [ "$(find "$work/out" -name '*.ps' | wc -l)" -ge 4 ] && break
  sleep 0.1
done
kill "$lpd"
wait "$lpd" || true
[ "$(find "$work/out" -name '*.ps' | wc -l)" = 4 ] ||
  fail "expected 4 printed jobs in 30 s, got: $(ls "$work/out") $(lpq -P LX-230 2>&1 || true)"
printed() { grep -l -a "^%%Title: $1\$" "$work"/out/*.ps; }

# The shift of the marks on the page, in points, as Ghostscript measures it.
bbox() { gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=bbox "$1" 2>&1 | sed -n 's/^%%HiResBoundingBox: //p'; }
near() { awk -v a="$1" -v b="$2" -v e="$3" 'BEGIN { d = a - b; exit !(d <= e && d >= -e) }'; }

check_fitted() {  # title, W, H, L in 1/300 inch
  local title=$1 w=$2 h=$3 l=$4 out
  out=$(printed "$title") || fail "$title was not printed"
  # What the selector's figures mean: the page W by H, moved 0.06 in left
  # and up by L/300 - H/72 + 3 mm (inches).
  local x y
  x=$(awk 'BEGIN { printf "%.6f", -0.06 * 72 }')
  y=$(awk -v l="$l" -v h="$h" 'BEGIN { printf "%.6f", (l / 300 - h / 72 + 3 / 25.4) * 72 }')
  # pstops: the paper, the clip to the page, the translation.
  grep -aq "^%%DocumentMedia: plain ${w%.*} ${h%.*} " "$out" || fail "$title: paper $(grep -a DocumentMedia "$out")"
  read -r cw ch < <(sed -n 's/^ *\([0-9.]*\) 0 rlineto 0 \([0-9.]*\) rlineto.*/\1 \2/p' "$out" | head -n 1)
  { near "$cw" "$w" 0.001 && near "$ch" "$h" 0.001; } || fail "$title: page clipped to $cw x $ch, not $w x $h"
  read -r tx ty < <(sed -n 's/^\([-0-9.]*\) \([-0-9.]*\) translate$/\1 \2/p' "$out" | head -n 1)
  { near "$tx" "$x" 0.001 && near "$ty" "$y" 0.001; } || fail "$title: moved by $tx $ty, not $x $y"
  # Ghostscript: the marks moved by just that.
  read -r ix iy _ < <(bbox "$work/jobs/$5")
  read -r ox oy _ < <(bbox "$out")
  dx=$(awk -v a="$ox" -v b="$ix" 'BEGIN { print a - b }')
  dy=$(awk -v a="$oy" -v b="$iy" 'BEGIN { print a - b }')
  { near "$dx" "$x" 0.05 && near "$dy" "$y" 0.05; } ||
    fail "$title: the marks moved from $ix $iy to $ox $oy, not by $x $y"
  echo "$title: page $w x $h pt, moved by $x $y pt: ok"
}
check_fitted label-82x144 82 144 600 a.ps
check_fitted label-62x100mm 175.748 283.465 1181 b.ps
check_fitted letter 612 792 3300 c.ps
out=$(printed no-size) || fail "no-size was not printed"
cmp "$out" "$work/jobs/d.ps" || fail "the job without a page size was changed"
echo "no-size: copied byte for byte: ok"
