#!/usr/bin/env bash
# Prints jobs through real LPRng queues whose input filter is the LX
# filter, installed for two models as the package installs it
# (<root>/<model>/lpd/<model>-filter), and checks what reaches the printer,
# rendered by Ghostscript at the size it asks for.
#
# Queue LX-230 (model lx230, whose rc file names a custom format as its
# medium) prints on media chosen by name: a custom format by its name, by
# its identifier and by the rc default; a size; a free size; an A4 job
# scaled onto a small label; a PDF job; a job that tries to reach files
# outside its own directory. LX-230Q has a medium of its own (ks_media).
# LX-210 (model lx210, no rc file) prints jobs on their own page: a label
# of 82 by 144 pt, a Letter page known only by its %%BoundingBox, and a job
# without a page size, which must arrive byte for byte.
#
# LX-230F, on a file device (LPRng honours a filter's failure only there),
# takes jobs that must fail: nothing may reach the device and lpq -L must
# say why in the filter's one line. A job removed (lprm) while Ghostscript
# runs it leaves no directory behind.
#
# lpd runs on its local socket only (no TCP port), in a private mount
# namespace in which our own /etc/lprng stands over the machine's, so that
# the machine's printcap, spool directories and running spooler are left as
# they were.
# Usage: pipeline_test.sh SOURCE_DIR FILTER_TESTROOT KSTAPEFMTLPR_TESTROOT
# Exits 77 (skipped) when not root or when a tool is missing.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }

if [ "${1-}" != --inside ]; then
  [ "$(id -u)" = 0 ] || skip "needs root (lpd, a private mount namespace)"
  for tool in lpd lpr lpq lprm checkpc gs unshare; do
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
src=$1 filter=$2 tool=$3 work=$4
# shellcheck source=tests/print_checks.sh
. "$src/tests/print_checks.sh"

mount --make-rprivate /
mkdir -p "$work/etc" "$work/spool" "$work/run" "$work/out" "$work/bin" "$work/jobs" "$work/tmpdir"
cp /etc/lprng/lpd.perms "$work/etc/"
cp "$tool" "$filter" "$work/bin/"

# The driver as installed under a root of its own, per model: the filter
# (the test build, rooted at the working directory, run from the root under
# the model's name, its directory for the job's files under $work/tmpdir).
root=$work/root
for model in lx230 lx210; do
  mkdir -p "$root/$model/inf" "$root/$model/lpd"
  for file in kslx230func paperinflx230pt1 kslx230rc ImagingArea; do
    cp "$src/demo/sample/$file" "$root/$model/inf/${file/lx230/$model}"
  done
  cp "$src/testing/kstapefmtcups" "$root/$model/lpd/"
  printf '#!/bin/bash\ncd %s && TMPDIR=%s exec -a %s-filter %s "$@"\n' "$root" "$work/tmpdir" "$model" \
    "$work/bin/$(basename "$filter")" >"$work/bin/$model-filter"
done
chmod -R a+rX "$root"
chmod 755 "$work/bin"/*
chown daemon "$work/tmpdir"
rm "$root/lx210/inf/kslx210rc"
tool230() { (cd "$root" && exec -a kstapefmtlpr_lx230 "$work/bin/$(basename "$tool")" "$@"); }
tool230 -P LX-230 -n 'Label 62x100' -w 62 -h 100
id=$(tool230 -l | awk -F '\t' '$1 == "Label 62x100" { print $3 }')
[ -n "$id" ] || fail "the format was not added: $(tool230 -l)"
sed -i "s/^MediaSize=.*/MediaSize=$id/" "$root/lx230/inf/kslx230rc"
chmod a+r "$root"/*/inf/*

# The printers: each job's data into a file of its own, whole or not at
# all, numbered in the order the queue printed them.
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
    :ks_time_limit#5:ks_output_limit=01
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

# The jobs, each known by its title.
job label-82x144 $'%%BoundingBox: 0 0 82 144\n' | sed '/^%%Page:/i << /PageSize [82 144] >> setpagedevice' >"$work/jobs/a.ps"
job letter $'%%BoundingBox: 0 0 612 792\n' >"$work/jobs/c.ps"
job no-size '' >"$work/jobs/d.ps"
for title in a4-by-name a4-free-size a4-unknown-medium a4-unknown-option; do a4 "$title" >"$work/jobs/$title.ps"; done
for title in label-by-id label-by-rc label-standard label-by-queue; do
  job "$title" $'%%BoundingBox: 0 0 82 144\n' >"$work/jobs/$title.ps"
done
a4 a4-pdf | gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/jobs/a4.pdf" -
printf 'Just text, no PostScript.\n' >"$work/jobs/text.txt"
printf '%%PDF-1.4\nnot a PDF at all\n' >"$work/jobs/junk.pdf"
printf '%%!PS\n%%%%BoundingBox: 0 0 2000 2000\n' >"$work/jobs/blank.ps"
printf '%%!PS\n%%%%BoundingBox: 0 0 2000 2000\n{} loop\n' >"$work/jobs/loop.ps"
printf '%%!PS\n%%%%BoundingBox: 0 0 2000 2000\n<< /PageSize [2000 2000] >> setpagedevice
{ 0 1 99 { dup 0 moveto 2000 exch 20 mul lineto } for stroke showpage } loop\n' >"$work/jobs/pages.ps"
# A job that tries to reach files under /tmp (directly, through a link to a
# file only lpd's user may read, and in the spool directory): to read and
# copy, to write, to delete and to list. Its page is larger than the label,
# so it is scaled. The directory is lpd's user's to write, so only
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
  # Ghostscript's "*" also matches "/": a pattern walks the whole tree
  # under it, so the job lists this test's own directory under /tmp rather
  # than /tmp itself, whose size is the machine's.
  for pattern in "$attack/*" "$work/spool/*/*" "$work/*"; do
    printf '{ (%s) { (%s/listed) (w) file exch writestring } 200 string filenameforall } stopped pop\n' "$pattern" "$attack"
  done
  printf '60 60 400 600 rectfill showpage\n%%%%EOF\n'
} >"$work/jobs/attack.ps"

checkpc -f >/dev/null 2>&1 || true  # makes the spool directories; warns as it fixes
lpd -F >"$work/lpd.log" 2>&1 &
lpd=$!
trap 'kill $lpd 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -S "$work/run/socket" ] && break; sleep 0.1; done
[ -S "$work/run/socket" ] || fail "lpd did not start: $(cat "$work/lpd.log")"

# The jobs that must print: queue, job file, options.
printed_jobs=(
  "LX-210 a.ps"
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

# What a job became: the file its queue printed, in the order it was sent.
printed() {  # job file
  local queue n
  queue=$(printf '%s\n' "${printed_jobs[@]}" | grep -F " $1" | cut -d' ' -f1)
  n=$(printf '%s\n' "${printed_jobs[@]}" | grep "^$queue " | grep -n -F " $1" | cut -d: -f1)
  echo "$work/out/$queue/$(printf %03d "$n").ps"
}
# On its page, W x H, its marks moved by the selector's offset (dx, dy in
# points) from where they were, or scaled.
check() {  # job file, W, H, shift ("dx dy" or scaled)
  local file=$1 w=$2 h=$3 shift=$4 out x0 y0 x1 y1
  out=$(printed "$file")
  [ -f "$out" ] || fail "$file was not printed"
  read -r x0 y0 x1 y1 < <(on_page "$file" "$out" "$w" "$h")
  [ -n "${y1-}" ] || exit 1
  placed "$file" "$work/jobs/$file" "$x0" "$y0" "$x1" "$shift"
  echo "$file: on $w x $h pt, marks at $x0 $y0 $x1 $y1: ok"
}
left=$(awk 'BEGIN { printf "%.4f", -0.06 * 72 }')
up() { awk -v l="$1" -v h="$2" 'BEGIN { printf "%.4f", (l / 300 - h / 72 + 3 / 25.4) * 72 }'; }
check a.ps 82 144 "$left $(up 600 144)"
check c.ps 612 792 "$left $(up 3300 792)"
cmp "$(printed d.ps)" "$work/jobs/d.ps" || fail "the job without a page size was changed"
echo "d.ps: copied byte for byte: ok"
w62=$(mm 62) h100=$(mm 100)
check a4-by-name.ps "$w62" "$h100" scaled
check label-by-id.ps "$w62" "$h100" "$left $(up 1181.102 "$h100")"
check label-by-rc.ps "$w62" "$h100" "$left $(up 1181.102 "$h100")"
check label-standard.ps "$(mm 29)" "$(mm 90)" "$left $(up 1062.992 "$(mm 90)")"
check a4-free-size.ps "$(mm 50)" "$(mm 30)" scaled
check a4.pdf "$w62" "$h100" scaled
check attack.ps "$(mm 29)" "$(mm 90)" scaled
check label-by-queue.ps "$(mm 29)" "$(mm 90)" "$left $(up 1062.992 "$(mm 90)")"

# Ghostscript's box: the attack printed, and reached nothing.
for file in leak made listed; do
  [ ! -e "$attack/$file" ] || fail "a job reached $attack/$file: $(cat "$attack/$file")"
done
[ "$(cat "$attack/victim")" = "keep me" ] || fail "a job deleted or changed a file under /tmp"
! grep -raq TOPSECRET "$work/out" || fail "a job copied a file it may not read"
echo "a job reads, writes, deletes and lists nothing under /tmp or the spool: ok"
[ -z "$(ls -A "$work/tmpdir")" ] || fail "jobs left $(ls -A "$work/tmpdir")"

# The jobs that must fail, on the file device, one at a time: each leaves
# nothing at the device and one line in lpq -L that says why, looked for as
# the job runs (lpq shows the end of a queue's status, which each job makes
# longer by as much as timing has it: after all of them, the first reason
# may be gone).
failing=(
  "a4-unknown-medium.ps|media=Nothing|unknown medium: Nothing"
  "text.txt||the job is neither PostScript nor PDF"
  "a4-unknown-option.ps|colour=red|unknown job option: -Z colour=red"
  "junk.pdf||Ghostscript could not read the PDF"
  "blank.ps|media=29x90|the job draws no page"
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

# A job removed while Ghostscript runs it: nothing left of its directory.
lpr -P LX-230 -Z media=29x90 "$work/jobs/loop.ps"
for _ in $(seq 200); do pgrep -f "$work/tmpdir/lx-filter" >/dev/null && break; sleep 0.1; done
pgrep -f "$work/tmpdir/lx-filter" >/dev/null || fail "the long job never reached Ghostscript"
lprm -P LX-230 -a all >/dev/null 2>&1 || lprm -P LX-230 >/dev/null 2>&1 || true
for _ in $(seq 100); do
  ! pgrep -f "$work/tmpdir/lx-filter" >/dev/null && [ -z "$(ls -A "$work/tmpdir")" ] && break
  sleep 0.1
done
! pgrep -f "$work/tmpdir/lx-filter" >/dev/null || fail "lprm left Ghostscript running"
[ -z "$(ls -A "$work/tmpdir")" ] || fail "lprm left $(ls -A "$work/tmpdir")"
echo "a job removed with lprm while Ghostscript runs: stopped, nothing left: ok"
kill "$lpd"
wait "$lpd" || true
