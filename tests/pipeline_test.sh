#!/usr/bin/env bash
# Prints jobs through real LPRng queues whose input filter is
# examples/lx230-filter, installed for two models as the package installs it
# (<root>/<model>/lpd/<model>-filter), and checks what reaches the printer.
#
# Queue LX-230 (model lx230, whose rc file names a custom format as its
# medium) prints on media chosen by name: a custom format by its name, by
# its identifier and by the rc default; a standard medium; a free size; an
# A4 job scaled onto a small label; a PDF job. What arrives must be on the
# medium (pstops' paper, and the marks inside it as Ghostscript's bbox
# device measures them). Queue LX-230F, the same on a file device (LPRng
# honours a filter's failure only there), takes jobs that must fail: an
# unknown medium, a text job, an unknown option; nothing may reach the
# device and lpq -L must say why.
#
# Queue LX-210 (model lx210, no rc file) prints as the filter did before
# media: a label of 82 by 144 pt, a label of 62 by 100 mm with -Z
# length=1181, a Letter page known only by its %%BoundingBox, and a job
# without a page size, which must arrive byte for byte.
#
# lpd runs on its local socket only (no TCP port), in a private mount
# namespace in which our own /etc/lprng stands over the machine's, so that
# the machine's printcap, spool directories and running spooler are left as
# they were.
# Usage: pipeline_test.sh SOURCE_DIR KSPAGEFIT KSTAPEFMTLPR_TESTROOT
# Exits 77 (skipped) when not root or when a tool is missing.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }

if [ "${1-}" != --inside ]; then
  [ "$(id -u)" = 0 ] || skip "needs root (lpd, a private mount namespace)"
  for tool in lpd lpr lpq checkpc pstops gs unshare; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
  done
  [ -d /etc/lprng ] || skip "LPRng's /etc/lprng is missing"
  # lpd runs the filter as the user daemon: everything it needs lies in a
  # directory that user can reach, whatever TMPDIR is.
  work=$(mktemp -d /tmp/pipeline-test.XXXXXX)
  trap '[ -n "${KS_KEEP-}" ] || rm -rf "$work"' EXIT
  chmod 755 "$work"
  unshare -m bash ${KS_TRACE:+-x} "$0" --inside "$@" "$work"
  exit
fi
shift
src=$1 selector=$2 tool=$3 work=$4

mount --make-rprivate /
mkdir -p "$work/etc" "$work/spool" "$work/run" "$work/out" "$work/bin" "$work/jobs"
cp /etc/lprng/lpd.perms "$work/etc/"
cp "$tool" "$work/bin/kstapefmtlpr_testroot"

# The driver as installed under a root of its own: per model the selector,
# the label-format tool (the test build, rooted at the working directory,
# run from the root under the model's name) and the filter.
root=$work/root
for model in lx230 lx210; do
  mkdir -p "$root/$model/inf" "$root/$model/lpd"
  for file in kslx230func paperinflx230pt1 kslx230rc ImagingArea; do
    cp "$src/demo/sample/$file" "$root/$model/inf/${file/lx230/$model}"
  done
  cp "$src/testing/kstapefmtcups" "$root/$model/lpd/"
  cp "$selector" "$root/$model/lpd/kspagefit_$model"
  cp "$src/examples/lx230-filter" "$root/$model/lpd/$model-filter"
  printf '#!/bin/bash\ncd %s && exec -a kstapefmtlpr_%s %s "$@"\n' "$root" "$model" \
    "$work/bin/kstapefmtlpr_testroot" >"$root/$model/lpd/kstapefmtlpr_$model"
  # The filter finds the driver under /opt; this wrapper tells it the root.
  printf '#!/bin/sh\nKSDRIVERROOT=%s/ exec %s "$@"\n' "$root" "$root/$model/lpd/$model-filter" \
    >"$work/bin/$model-filter"
done
chmod -R a+rX "$root"
chmod 755 "$root"/*/lpd/* "$work/bin"/*
rm "$root/lx210/inf/kslx210rc"
tool230() { (cd "$root" && exec -a kstapefmtlpr_lx230 "$work/bin/kstapefmtlpr_testroot" "$@"); }
tool230 -P LX-230 -n 'Label 62x100' -w 62 -h 100
id=$(tool230 -l | awk -F '\t' '$1 == "Label 62x100" { print $3 }')
[ -n "$id" ] || fail "the format was not added: $(tool230 -l)"
sed -i "s/^MediaSize=.*/MediaSize=$id/" "$root/lx230/inf/kslx230rc"
chmod a+r "$root"/*/inf/*

# The printers: each job's data into a file of its own, whole or not at
# all, numbered in the order the queue printed them (Ghostscript's output
# keeps no title to know a job by).
for queue in LX-230 LX-230Q LX-210; do
  mkdir -p "$work/out/$queue"
  cat >"$work/bin/printer-$queue" <<SH
#!/bin/sh
tmp=\$(mktemp $work/out/$queue/.job.XXXXXX) && cat >"\$tmp" &&
  mv "\$tmp" "$work/out/$queue/\$(printf %03d \$((\$(ls $work/out/$queue | wc -l) + 1))).ps"
SH
  chmod 755 "$work/bin/printer-$queue"
  chown daemon "$work/out/$queue"
done
: >"$work/device"
chown daemon "$work/run" "$work/device"
cat >"$work/etc/lpd.conf" <<CONF
lpd_listen_port=off
unix_socket_path=$work/run/socket
lockfile=$work/run/lpd
printcap_path=$work/etc/printcap
CONF
cat >"$work/etc/printcap" <<CAP
LX-230
    :sd=$work/spool/%P
    :lp=|$work/bin/printer-LX-230
    :if=$work/bin/lx230-filter
    :sh:mx=0
LX-230F
    :sd=$work/spool/%P
    :lp=$work/device
    :if=$work/bin/lx230-filter
    :sh:mx=0
    :ks_time_limit=5:ks_output_limit=1
LX-230Q
    :sd=$work/spool/%P
    :lp=|$work/bin/printer-LX-230Q
    :if=$work/bin/lx230-filter
    :sh:mx=0
    :ks_media=29x90
LX-210
    :sd=$work/spool/%P
    :lp=|$work/bin/printer-LX-210
    :if=$work/bin/lx210-filter
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
a4() {  # title: an A4 page, framed, with a rectangle at each corner
  printf '%%!PS-Adobe-3.0\n%%%%BoundingBox: 0 0 595 842\n%%%%Title: %s\n%%%%Pages: 1\n%%%%EndComments\n' "$1"
  printf '%%%%Page: 1 1\n<< /PageSize [595 842] >> setpagedevice\n'
  printf '10 setlinewidth 40 40 515 762 rectstroke 60 60 100 100 rectfill 435 682 100 100 rectfill\n'
  printf 'showpage\n%%%%EOF\n'
}
job label-82x144 $'%%BoundingBox: 0 0 82 144\n' | sed '/^%%Page:/i << /PageSize [82 144] >> setpagedevice' >"$work/jobs/a.ps"
job label-62x100mm '' | sed '/^%%Page:/i << /PageSize [175.748 283.465] >> setpagedevice' >"$work/jobs/b.ps"
job letter $'%%BoundingBox: 0 0 612 792\n' >"$work/jobs/c.ps"
job no-size '' >"$work/jobs/d.ps"
for title in a4-by-name a4-free-size a4-unknown-medium a4-unknown-code a4-unknown-option; do a4 "$title" >"$work/jobs/$title.ps"; done
for title in label-by-id label-by-rc label-standard label-by-queue; do
  job "$title" $'%%BoundingBox: 0 0 82 144\n' >"$work/jobs/$title.ps"
done
a4 a4-pdf | gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/jobs/a4.pdf" -
printf 'Just text, no PostScript.\n' >"$work/jobs/text.txt"
printf '%%PDF-1.4\nnot a PDF at all\n' >"$work/jobs/junk.pdf"
# A job that draws nothing: Ghostscript still makes a blank page of it.
printf '%%!PS\n%%%%BoundingBox: 0 0 2000 2000\n' >"$work/jobs/blank.ps"
# Jobs that never end or write without end, scaled by Ghostscript.
printf '%%!PS\n%%%%BoundingBox: 0 0 2000 2000\n{} loop\n' >"$work/jobs/loop.ps"
printf '%%!PS\n%%%%BoundingBox: 0 0 2000 2000\n<< /PageSize [2000 2000] >> setpagedevice
{ 0 1 99 { dup 0 moveto 2000 exch 20 mul lineto } for stroke showpage } loop\n' >"$work/jobs/pages.ps"
# A job that tries to reach files under /tmp (directly, through a link to a
# file only lpd's user may read, and in the spool directory): to read and
# copy, to write, to delete and to list. Its page is larger than the label,
# so Ghostscript scales it. The directory is lpd's user's to write, so only
# Ghostscript's box can keep the job out.
attack=$work/attack
mkdir "$attack"
printf 'TOPSECRET\n' >"$attack/secret"
chmod 600 "$attack/secret"
ln -s "$attack/secret" "$attack/link"
printf 'keep me\n' >"$attack/victim"
chown -R daemon "$attack"
{
  printf '%%!PS-Adobe-3.0\n%%%%BoundingBox: 0 0 595 842\n%%%%Title: attack\n%%%%EndComments\n'
  printf '<< /PageSize [595 842] >> setpagedevice\n'
  printf '{ (%s/link) (r) file 100 string readstring pop (%s/leak) (w) file exch writestring } stopped pop\n' "$attack" "$attack"
  printf '{ (%s/victim) deletefile } stopped pop\n' "$attack"
  printf '{ (%s/made) (w) file (x) writestring } stopped pop\n' "$attack"
  for pattern in "$attack/*" "$work/spool/*/*"; do
    printf '{ (%s) { (%s/listed) (w) file exch writestring } 200 string filenameforall } stopped pop\n' "$pattern" "$attack"
  done
  printf '{ (/tmp/*) { (%s/listed) (w) file exch writestring } 200 string filenameforall } stopped pop\n' "$attack"
  printf '60 60 400 600 rectfill showpage\n%%%%EOF\n'
} >"$work/jobs/attack.ps"

# The filter on its own: a selector that prints nothing, something else, a
# command other than pstops or cp, or files not the filter's own, fails the
# job (status 2, one line on standard error) and runs nothing.
printf '#!/bin/sh\ncat %s/decision\n' "$work" >"$work/bin/bad-selector"
chmod 755 "$work/bin/bad-selector"
filter210() { KSDRIVERROOT=$root/ "$root/lx210/lpd/lx210-filter" "$@"; }
refused() {  # what the selector prints (printf format)
  # shellcheck disable=SC2059
  printf "$1" >"$work/decision"
  local status=0 err
  err=$(KSPAGEFIT=$work/bin/bad-selector filter210 <"$work/jobs/a.ps" 2>&1 >/dev/null) ||
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
# Job options are text, never file names: with globbing, length=* would be
# the file below.
: >"$work/length=5"
status=0
err=$(cd "$work" && filter210 '-Zlength=*' <"$work/jobs/a.ps" 2>&1 >/dev/null) || status=$?
[ "$status" = 2 ] && [ "$err" = 'lx210-filter: length=* is no length in 1/300 inch' ] ||
  fail "a glob in a job option: status $status, $err"
echo "the filter refuses what it must not run: ok"

# A name as LPRng passes it on: its bytes from 0x80 up, and shell
# characters, each made "_". One format of that shape is found; two are
# ambiguous, and the job fails naming the identifier as the way out.
filter230() { KSDRIVERROOT=$root/ "$root/lx230/lpd/lx230-filter" "$@"; }
tool230 -P LX-230 -n $'K\xc3\xa4se' -w 40 -h 60
filter230 -Zmedia=K__se <"$work/jobs/a.ps" >"$work/one.ps"
grep -aq '^%%DocumentMedia: plain 113 170 ' "$work/one.ps" ||
  fail "K__se did not find the format K\xc3\xa4se"
tool230 -P LX-230 -n 'K$$se' -w 40 -h 60
status=0
err=$(filter230 -Zmedia=K__se <"$work/jobs/a.ps" 2>&1 >/dev/null) || status=$?
[ "$status" = 2 ] && [[ "$err" == *"matches several formats"*identifier* ]] ||
  fail "an ambiguous name: status $status, $err"
tool230 -P LX-230 -d 'K$$se'
tool230 -P LX-230 -d $'K\xc3\xa4se'
echo "names as LPRng mangles them: ok"

# One Ghostscript run and one pstops run for a job, PDF or PostScript
# (also after the ^D some drivers begin it with), scaled onto a medium;
# each one the filter makes is counted.
mkdir "$work/count"
for program in gs pstops; do
  printf '#!/bin/sh
echo %s >>%s/runs
exec %s "$@"
' "$program" "$work" "$(command -v "$program")" \
    >"$work/count/$program"
done
chmod 755 "$work/count"/*
{ printf '\004'; cat "$work/jobs/a4-by-name.ps"; } >"$work/jobs/ctrl-d.ps"
# A job Ghostscript finds no page in fails with nothing sent, and, failed
# or not, the job's own directory goes with it.
mkdir "$work/tmpdir"
# A label with a header of its own, printed as it is.
job own-media $'%%BoundingBox: 0 0 82 144\n%%DocumentMedia: A4 595 842 80 () ()\n%%+ Letter 612 792 80 () ()\n' \
  >"$work/jobs/own-media.ps"
for file in a4.pdf a4-by-name.ps ctrl-d.ps own-media.ps junk.pdf blank.ps; do
  : >"$work/runs"
  status=0
  err=$(TMPDIR=$work/tmpdir PATH=$work/count:$PATH filter230 '-Zmedia=Label 62x100' \
    <"$work/jobs/$file" 2>&1 >"$work/one.ps") || status=$?
  [ -z "$(ls -A "$work/tmpdir")" ] || fail "$file left $(ls -A "$work/tmpdir") behind"
  case $file in
    junk.pdf | blank.ps)
      [ "$status" = 2 ] && [ "$err" = 'lx230-filter: Ghostscript found no page in the job' ] &&
        [ ! -s "$work/one.ps" ] || fail "$file: status $status, $err"
      continue
      ;;
  esac
  case $file in
    own-media.ps) runs='pstops ' ;;
    *) runs='gs pstops ' ;;
  esac
  [ "$(sort "$work/runs" | tr '\n' ' ')" = "$runs" ] ||
    fail "$file: ran $(tr '\n' ' ' <"$work/runs")instead of $runs"
  # What reaches the printer: one %%BoundingBox and one %%DocumentMedia, the
  # medium's, whatever the job's own header said.
  [ "$(grep -a '^%%BoundingBox:\|^%%DocumentMedia:\|^%%+' "$work/one.ps")" = "%%DocumentMedia: plain 175 283 0 () ()
%%BoundingBox: 0 0 175 283" ] || fail "$file: header $(grep -a 'BoundingBox\|DocumentMedia\|^%%+' "$work/one.ps")"
done
# Where the kernel gives no random name, mktemp makes the directory.
mount --bind /dev/null /proc/sys/kernel/random/uuid
TMPDIR=$work/tmpdir filter230 '-Zmedia=Label 62x100' <"$work/jobs/a4-by-name.ps" >"$work/one.ps" ||
  fail "without the kernel's random name, a job failed"
umount /proc/sys/kernel/random/uuid
grep -aq '^%%DocumentMedia: plain 175 283 ' "$work/one.ps" && [ -z "$(ls -A "$work/tmpdir")" ] ||
  fail "without the kernel's random name: $(ls -A "$work/tmpdir")"
echo "one Ghostscript run, one pstops run, one box and one medium in the header;" \
  "no page: failed; no debris: ok"

# Under a spooler that already holds its filters to tighter hard limits
# than the filter's own, the filter keeps them rather than failing every
# job trying to raise them, and a job is held to them.
for case in 'loop.ps|--cpu=2:3|time limit of 2 s (ks_time_limit)' \
  'pages.ps|--fsize=1048576|output limit of 1 MiB (ks_output_limit)'; do
  IFS='|' read -r file limit message <<<"$case"
  status=0
  err=$(KSDRIVERROOT=$root/ prlimit "$limit" "$root/lx230/lpd/lx230-filter" -Zmedia=29x90 \
    <"$work/jobs/$file" 2>&1 >/dev/null) || status=$?
  [ "$status" = 2 ] && [ "$err" = "lx230-filter: the job went over its $message" ] ||
    fail "$file under a hard limit $limit: status $status, $err"
done
echo "a spooler's tighter limits hold: ok"

# The rc file is the tool's to read: a FIFO or an endless file in its place
# fails a job that names no medium, at once.
rc=$root/lx230/inf/kslx230rc
mv "$rc" "$rc.kept"
for plant in fifo zero; do
  if [ $plant = fifo ]; then mkfifo "$rc"; else ln -s /dev/zero "$rc"; fi
  status=0
  err=$(KSDRIVERROOT=$root/ timeout 20 "$root/lx230/lpd/lx230-filter" <"$work/jobs/a.ps" 2>&1 >/dev/null) || status=$?
  [ "$status" = 2 ] || fail "an rc file that is a $plant: status $status, $err"
  rm "$rc"
done
mv "$rc.kept" "$rc"
echo "an rc file that is a FIFO or /dev/zero fails the job at once: ok"

checkpc -f >/dev/null 2>&1 || true  # makes the spool directories; warns as it fixes
lpd -F >"$work/lpd.log" 2>&1 &
lpd=$!
trap 'kill $lpd 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -S "$work/run/socket" ] && break; sleep 0.1; done
[ -S "$work/run/socket" ] || fail "lpd did not start: $(cat "$work/lpd.log")"

# The jobs that must print: queue, job file, options.
printed_jobs=(
  "LX-210 a.ps"
  "LX-210 b.ps -Z length=1181"
  "LX-210 c.ps"
  "LX-210 d.ps"
  "LX-230 a4-by-name.ps -Z media=Label 62x100"
  "LX-230 label-by-id.ps -Z media=$id"
  "LX-230 label-by-rc.ps"
  "LX-230 label-standard.ps -Z media=29x90"
  "LX-230 a4-free-size.ps -Z media=50x30mm"
  "LX-230 a4.pdf -Z media=Label 62x100"
  "LX-230 attack.ps -Z media=29x90"
  "LX-230Q label-by-queue.ps"
)
for entry in "${printed_jobs[@]}"; do
  read -r queue file zflag zvalue <<<"$entry"
  lpr -P "$queue" ${zflag:+"$zflag" "$zvalue"} "$work/jobs/$file"
done

want=${#printed_jobs[@]}
for _ in $(seq 900); do
  [ "$(find "$work/out" -name '*.ps' | wc -l)" -ge "$want" ] && break
  sleep 0.1
done
[ "$(find "$work/out" -name '*.ps' | wc -l)" = "$want" ] ||
  fail "expected $want printed jobs in 90 s, got: $(ls -R "$work/out") $(lpq -a 2>&1 || true)"
printed() { grep -l -a "^%%Title: $1\$" "$work"/out/LX-210/*.ps; }

# The shift of the marks on the page, in points, as Ghostscript measures it.
bbox() { gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=bbox "$1" 2>&1 | sed -n 's/^%%HiResBoundingBox: //p'; }
near() { awk -v a="$1" -v b="$2" -v e="$3" 'BEGIN { d = a - b; exit !(d <= e && d >= -e) }'; }

check_fitted() {  # title, W, H, L in 1/300 inch, job file
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
  { near "$cw" "$w" 0.01 && near "$ch" "$h" 0.01; } || fail "$title: page clipped to $cw x $ch, not $w x $h"
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

# On a medium: the page is the medium's, and the marks lie within it.
mm() { awk -v v="$1" 'BEGIN { printf "%.3f", v / 25.4 * 72 }'; }
check_medium() {  # job file, medium width and length in mm, scaled (yes/no)
  local title=$1 w h out n
  w=$(mm "$2") h=$(mm "$3")
  # The queue's jobs in the order they were sent.
  local queue
  queue=$(printf '%s\n' "${printed_jobs[@]}" | grep -F " $title" | cut -d' ' -f1)
  n=$(printf '%s\n' "${printed_jobs[@]}" | grep "^$queue " | grep -n -F " $title" | cut -d: -f1)
  out=$work/out/$queue/$(printf %03d "$n").ps
  [ -f "$out" ] || fail "$title was not printed"
  grep -aq "^%%DocumentMedia: plain ${w%.*} ${h%.*} " "$out" ||
    fail "$title: paper $(grep -a DocumentMedia "$out"), not the medium's $w x $h"
  read -r x0 y0 x1 y1 < <(bbox "$out")
  [ -n "${y1-}" ] || fail "$title: nothing on the label"
  awk -v a="$x0" -v b="$y0" -v c="$x1" -v d="$y1" -v w="$w" -v h="$h" \
    'BEGIN { exit !(a >= 0 && b >= 0 && c <= w && d <= h && c - a > 10 && d - b > 10) }' ||
    fail "$title: marks at $x0 $y0 $x1 $y1, not within the medium $w x $h"
  # A page larger than the medium was scaled down to it, a smaller one not.
  local span
  span=$(awk -v a="$x0" -v c="$x1" 'BEGIN { print c - a }')
  if [ "$4" = yes ]; then
    awk -v s="$span" 'BEGIN { exit !(s > 30 && s < 200) }' || fail "$title: not scaled ($span pt wide)"
  else
    near "$span" 40 0.5 || fail "$title: the 40 pt rectangle is $span pt wide"
  fi
  echo "$title: on the medium $w x $h pt, marks at $x0 $y0 $x1 $y1: ok"
}
check_medium a4-by-name.ps 62 100 yes
check_medium label-by-id.ps 62 100 no
check_medium label-by-rc.ps 62 100 no
check_medium label-standard.ps 29 90 no
check_medium a4-free-size.ps 50 30 yes
check_medium a4.pdf 62 100 yes
check_medium attack.ps 29 90 yes
check_medium label-by-queue.ps 29 90 no

# Ghostscript's box: the attack printed, and reached nothing.
for file in leak made listed; do
  [ ! -e "$attack/$file" ] || fail "a job reached $attack/$file: $(cat "$attack/$file")"
done
[ "$(cat "$attack/victim")" = "keep me" ] || fail "a job deleted or changed a file under /tmp"
! grep -raq TOPSECRET "$work/out" || fail "a job copied a file it may not read"
echo "a job reads, writes, deletes and lists nothing under /tmp or the spool: ok"

# The jobs that must fail, on the file device, one at a time: each leaves
# nothing at the device and one line in lpq -L that says why, looked for as
# the job runs (lpq shows the end of a queue's status, which each job makes
# longer by as much as timing has it: after all of them, the first reason
# may be gone).
failing=(
  "a4-unknown-medium.ps|media=Nothing|unknown medium: Nothing"
  "a4-unknown-code.ps|media=NoSuchCode 29x90|unknown medium: NoSuchCode 29x90"
  "text.txt||the job is neither PostScript nor PDF"
  "a4-unknown-option.ps|colour=red|unknown job option: -Z colour=red"
  "junk.pdf||found no page in the"
  "loop.ps|media=29x90|the job went over its time limit of 5 s"
  "pages.ps|media=29x90|the job went over its output limit of 1 MiB"
)
for entry in "${failing[@]}"; do
  IFS='|' read -r file option reason <<<"$entry"
  lpr -P LX-230F ${option:+-Z "$option"} "$work/jobs/$file"
  for _ in $(seq 300); do
    status=$(lpq -L -P LX-230F 2>&1 || true)
    grep -qF "$reason" <<<"$status" && break
    sleep 0.1
  done
  grep -qF "$reason" <<<"$status" || fail "in 30 s, lpq -L did not say \"$reason\":
$status"
  ! grep -qE "filter msg - '(CPU time limit exceeded|File size limit exceeded|Killed)" <<<"$status" ||
    fail "lpq -L shows more than the filter's one line: $status"
  [ ! -s "$work/device" ] || fail "$file reached the printer: $(head -c 200 "$work/device")"
  echo "failed, and lpq -L says why: $reason: ok"
done
kill "$lpd"
wait "$lpd" || true
