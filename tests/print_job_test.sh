#!/usr/bin/env bash
# The LPRng filter run as lpd runs it (its arguments, PRINTCAP_ENTRY, the job
# on standard input), without lpd, on driver data sets of its own:
#   - what arrives, rendered by Ghostscript at the size it asks for: the
#     medium's (or the job's own page), within 0.5 pt, with the job's marks
#     on it, moved as the page-fit selector says or scaled whole; PostScript
#     and PDF, on their own page and scaled;
#   - every way a job fails, each with its own line and nothing sent: no
#     page drawn, a page Ghostscript cannot draw, a PDF it cannot read, an
#     unknown or ambiguous medium, an incomplete format, a missing data set,
#     each limit of the queue (time, output, disk, memory, and a spooler's
#     tighter ones), printcap numbers that are none;
#   - a removed job (SIGTERM, SIGINT) stops Ghostscript and leaves nothing;
#   - no more than six processes a job, counted in a PID namespace.
# Usage: print_job_test.sh SOURCE_DIR FILTER_TESTROOT TOOL_TESTROOT
# Exits 77 (skipped) when Ghostscript is missing.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v gs >/dev/null || { echo "SKIPPED: gs is not installed (apt-get install ghostscript)"; exit 77; }
src=$1 filter=$2 tool=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jobs" "$work/tmp"

# A driver data set under $work/root, the tool and the filter run from it
# under their models' names.
# shellcheck source=tests/print_checks.sh
. "$src/tests/print_checks.sh"
root=$work/root
driver "$root" "$src"
tool230() { (cd "$root" && exec -a kstapefmtlpr_lx230 "$tool" "$@"); }
# The filter: status, standard error and standard output in files.
lx230() {  # [NAME=value... --] ARGS... < job
  local env=()
  while [ $# -gt 0 ] && [[ "$1" != -* && "$1" == *=* ]]; do env+=("$1"); shift; done
  [ "${1-}" != -- ] || shift
  local status=0
  (cd "$root" && env TMPDIR="$work/tmp" "${env[@]}" bash -c 'exec -a lx230-filter "$0" "$@"' \
    "$filter" "$@") >"$work/out" 2>"$work/err" || status=$?
  echo "$status" >"$work/status"
}
tool230 -P LX-230 -n 'Label 62x100' -w 62 -h 100
id=$(tool230 -l | awk -F '\t' '$1 == "Label 62x100" { print $3 }')
# No default medium at first: jobs without one print on their own page.
sed -i "/^MediaSize=/d" "$root/lx230/inf/kslx230rc"

job label-82x144 $'%%BoundingBox: 0 0 82 144\n' | sed '/^%%Page:/i << /PageSize [82 144] >> setpagedevice' >"$work/jobs/small.ps"
job label-62x100mm '' | sed '/^%%Page:/i << /PageSize [175.748 283.465] >> setpagedevice' >"$work/jobs/label.ps"
job no-size '' >"$work/jobs/no-size.ps"
a4 a4 >"$work/jobs/a4.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/jobs/a4.pdf" "$work/jobs/a4.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/jobs/small.pdf" "$work/jobs/small.ps"
# The same A4 page in a PDF whose page tree stands in a compressed object
# stream: no box to be seen.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -dCompatibilityLevel=1.5 -dWriteObjStms=true \
  -sOutputFile="$work/jobs/hidden.pdf" "$work/jobs/a4.ps" 2>/dev/null || cp "$work/jobs/a4.pdf" "$work/jobs/hidden.pdf"

# On a medium (or the job's own page): the page asks for W x H, and the
# marks lie on it; SHIFT "dx dy" (unscaled) or "scaled".
arrives() {  # label, W, H, SHIFT, job file, filter arguments...
  local label=$1 w=$2 h=$3 shift=$4 file=$5
  shift 5
  lx230 "$@" <"$work/jobs/$file"
  [ "$(cat "$work/status")" = 0 ] || fail "$label: status $(cat "$work/status"): $(cat "$work/err")"
  local x0 y0 x1 y1
  read -r x0 y0 x1 y1 < <(on_page "$label" "$work/out" "$w" "$h")
  [ -n "${y1-}" ] || exit 1  # on_page failed
  grep -aq "^%%DocumentMedia: plain " "$work/out" || fail "$label: no %%DocumentMedia in the header"
  placed "$label" "$work/jobs/$file" "$x0" "$y0" "$x1" "$shift"
  [ -z "$(ls -A "$work/tmp")" ] || fail "$label left $(ls -A "$work/tmp")"
  echo "$label: on $w x $h, marks at $x0 $y0 $x1 $y1: ok"
}
# The selector's offset: 0.06 in left, and up by L/300 - H/72 + 3 mm.
left=$(awk 'BEGIN { printf "%.4f", -0.06 * 72 }')
up() { awk -v l="$1" -v h="$2" 'BEGIN { printf "%.4f", (l / 300 - h / 72 + 3 / 25.4) * 72 }'; }
w62=$(mm 62) h100=$(mm 100)
arrives "PostScript on its own page" 82 144 "$left $(up 600 144)" small.ps
arrives "PostScript on its own page, length given" 175.748 283.465 "$left $(up 1181 283.465)" label.ps -Zlength=1181
lx230 <"$work/jobs/no-size.ps"
cmp -s "$work/out" "$work/jobs/no-size.ps" || fail "a job without a page size was changed"
echo "a job without a page size, and no medium: sent as it is: ok"
arrives "a PDF on its own page" 82 144 "$left $(up 600 144)" small.pdf
sed -i "s/^Copies=.*/&\nMediaSize=$id/" "$root/lx230/inf/kslx230rc"
arrives "a PostScript label on the medium by name" "$w62" "$h100" "$left $(up 1181.102 "$h100")" small.ps '-Zmedia=Label 62x100'
arrives "an A4 PostScript page scaled onto it" "$w62" "$h100" scaled a4.ps '-Zmedia=Label 62x100'
arrives "the same by identifier" "$w62" "$h100" scaled a4.ps "-Zmedia=$id"
arrives "the same by the model's default" "$w62" "$h100" scaled a4.ps
arrives "an A4 PDF scaled onto it" "$w62" "$h100" scaled a4.pdf '-Zmedia=Label 62x100'
arrives "a PDF whose box is not seen" "$w62" "$h100" scaled hidden.pdf '-Zmedia=Label 62x100'
arrives "a PDF label on the medium" "$w62" "$h100" "$left $(up 1181.102 "$h100")" small.pdf '-Zmedia=Label 62x100'
arrives "a size in mm" "$(mm 29)" "$(mm 90)" scaled a4.ps -Zmedia=29x90
arrives "a free size" "$(mm 50)" "$(mm 30)" scaled a4.ps -Zmedia=50x30mm
arrives "the queue's medium" "$(mm 29)" "$(mm 90)" scaled a4.ps PRINTCAP_ENTRY=$':sd=/x\n  :ks_media=29x90:'
arrives "the job's medium before the queue's" "$w62" "$h100" scaled a4.ps PRINTCAP_ENTRY=:ks_media=29x90: -- "-Zmedia=$id"

# Failures: status 2, one line, nothing sent, nothing left.
fails() {  # label, expected line, job file, [ENV=... --] filter arguments...
  local label=$1 line=$2 file=$3
  shift 3
  lx230 "$@" <"$file"
  [ "$(cat "$work/status")" = 2 ] && [ "$(cat "$work/err")" = "lx230-filter: $line" ] &&
    [ ! -s "$work/out" ] || fail "$label: status $(cat "$work/status"), sent $(wc -c <"$work/out") bytes, said: $(cat "$work/err")"
  [ -z "$(ls -A "$work/tmp")" ] || fail "$label left $(ls -A "$work/tmp")"
  echo "fails, saying why: $label: ok"
}
printf '%%!PS\n%%%%BoundingBox: 0 0 200 200\n' >"$work/jobs/blank.ps"
printf 'Just text, no PostScript.\n' >"$work/jobs/text.txt"
printf '%%PDF-1.4\nnot a PDF at all\n' >"$work/jobs/junk.pdf"
python3 - "$work/jobs/nostream.pdf" <<'PY' 2>/dev/null || printf '%%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n' >"$work/jobs/nostream.pdf"
import sys
objs = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 200 200] >>",
        b"<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>", b"42"]
out, offsets = b"%PDF-1.4\n", []
for i, o in enumerate(objs):
    offsets.append(len(out)); out += b"%d 0 obj\n" % (i + 1) + o + b"\nendobj\n"
x = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1) + b"".join(b"%010d 00000 n \n" % o for o in offsets)
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, x)
open(sys.argv[1], "wb").write(out)
PY
printf '%%!PS\n%%%%BoundingBox: 0 0 2000 2000\n{} loop\n' >"$work/jobs/loop.ps"
printf '%%!PS\n<< /PageSize [2000 2000] >> setpagedevice\n{ 0 1 99 { dup 0 moveto 2000 exch 20 mul lineto } for stroke showpage } loop\n' >"$work/jobs/pages.ps"
printf '%%!PS\n1 1 400 { pop null (w) .tempfile dup 960000 string writestring closefile pop } for\n0 0 moveto 100 100 lineto stroke showpage\n' >"$work/jobs/tempfiles.ps"
printf '%%!PS\n/a [ 1 1 100000 { pop 100000 string } for ] def\n0 0 moveto 100 100 lineto stroke showpage\n' >"$work/jobs/hungry.ps"
fails "no page drawn (PostScript, scaled)" "the job draws no page" "$work/jobs/blank.ps" '-Zmedia=29x90'
fails "no page drawn (PostScript, on its own page)" "the job draws no page" "$work/jobs/blank.ps"
fails "a PDF Ghostscript cannot read" "Ghostscript could not read the PDF: Couldn't initialise file." "$work/jobs/junk.pdf"
fails "a page Ghostscript cannot draw" "Ghostscript could not draw a page of the job (Page drawing error occurred.)" "$work/jobs/nostream.pdf"
fails "neither PostScript nor PDF" "the job is neither PostScript nor PDF" "$work/jobs/text.txt"
fails "an unknown medium" "unknown medium: Nothing (see kstapefmtlpr_lx230 -l)" "$work/jobs/a4.ps" -Zmedia=Nothing
fails "a code the data set does not know" "unknown medium: NoSuchCode 29x90 (see kstapefmtlpr_lx230 -l)" "$work/jobs/a4.ps" '-Zmedia=NoSuchCode 29x90'
fails "an unknown option" "unknown job option: -Z colour=red (known: media=, length=)" "$work/jobs/a4.ps" -Zcolour=red
fails "a glob in an option is text" "length=* is no length in 1/300 inch" "$work/jobs/a4.ps" '-Zlength=*'
fails "the time limit" "the job went over its time limit of 2 s (ks_time_limit)" "$work/jobs/loop.ps" PRINTCAP_ENTRY=:ks_time_limit=2: -- -Zmedia=29x90
fails "the output limit" "the job went over its output limit of 1 MiB (ks_output_limit)" "$work/jobs/pages.ps" PRINTCAP_ENTRY=:ks_output_limit#1: -- -Zmedia=29x90
fails "the disk limit, all the job's files together" "the job went over its disk limit of 2 MiB (ks_disk_limit)" "$work/jobs/tempfiles.ps" PRINTCAP_ENTRY=:ks_disk_limit=2: -- -Zmedia=29x90
fails "the memory limit" "the job went over its memory limit of 300 MiB (ks_memory_limit)" "$work/jobs/hungry.ps" PRINTCAP_ENTRY=:ks_memory_limit=0300: -- -Zmedia=29x90
fails "a time limit that is no number" "ks_time_limit=0 is no number of seconds (1 to 999999)" "$work/jobs/a4.ps" PRINTCAP_ENTRY=:ks_time_limit=0: --
fails "an output limit that is junk" "ks_output_limit#1k is no number of MiB (1 to 999999)" "$work/jobs/a4.ps" PRINTCAP_ENTRY=:ks_output_limit#1k: --
# A spooler's tighter hard limits hold, and are the ones named.
for case in 'loop.ps|--cpu=2:3|time limit of 2 s (ks_time_limit)' \
  'pages.ps|--fsize=1048576|output limit of 1 MiB (ks_output_limit)'; do
  IFS='|' read -r file limit message <<<"$case"
  status=0
  err=$(cd "$root" && TMPDIR=$work/tmp prlimit "$limit" bash -c 'exec -a lx230-filter "$0" -Zmedia=29x90' \
    "$filter" <"$work/jobs/$file" 2>&1 >/dev/null) || status=$?
  [ "$status" = 2 ] && [ "$err" = "lx230-filter: the job went over its $message" ] ||
    fail "$file under a spooler's hard limit $limit: status $status, $err"
done
echo "a spooler's tighter limits hold: ok"

# Names as LPRng passes them on: bytes from 0x80 up and shell characters
# made "_". One format of that shape is found; two are ambiguous.
tool230 -P LX-230 -n $'K\xc3\xa4se' -w 40 -h 60
arrives "a name as LPRng rewrites it" "$(mm 40)" "$(mm 60)" scaled a4.ps -Zmedia=K__se
tool230 -P LX-230 -n 'K$$se' -w 40 -h 60
fails "an ambiguous rewritten name" "medium K__se matches several formats: name one by its identifier (see kstapefmtlpr_lx230 -l)" "$work/jobs/a4.ps" -Zmedia=K__se
# A format left incomplete, and a data set that is not all there.
printf 'KsL041D04600099/Half\n' >>"$root/lx230/inf/kslx230func"
fails "an incomplete format" "format Half is incomplete (missing: paperinflx230pt1, ImagingArea)" "$work/jobs/a4.ps" -Zmedia=Half
mv "$root/lx230/inf/paperinflx230pt1" "$work/kept"
fails "a data file missing" "./lx230/inf/paperinflx230pt1: No such file or directory (the printer driver for lx230 provides it: install the driver first)" "$work/jobs/a4.ps" -Zmedia=29x90
mv "$root/lx230/inf" "$work/inf"
fails "the data directory missing" "./lx230/inf: No such file or directory (the printer driver for lx230 provides it: install the driver first)" "$work/jobs/a4.ps"
mv "$work/inf" "$root/lx230/inf"
mv "$work/kept" "$root/lx230/inf/paperinflx230pt1"

# A removed job: lprm signals the filter; Ghostscript stops, nothing is
# left and nothing sent.
for signal in TERM INT; do
  (cd "$root" && TMPDIR=$work/tmp exec -a lx230-filter "$filter" -Zmedia=29x90 \
    <"$work/jobs/loop.ps" >"$work/out" 2>"$work/err") &
  pid=$!
  for _ in $(seq 200); do pgrep -f "$work/tmp/lx-filter" >/dev/null && break; sleep 0.05; done
  pgrep -f "$work/tmp/lx-filter" >/dev/null || fail "SIG$signal: Ghostscript never started"
  kill -"$signal" "$pid"
  status=0
  wait "$pid" || status=$?
  [ "$status" = 2 ] && [ ! -s "$work/out" ] && [ -z "$(ls -A "$work/tmp")" ] ||
    fail "SIG$signal: status $status, left $(ls -A "$work/tmp"), said $(cat "$work/err")"
  ! pgrep -f "$work/tmp/lx-filter" >/dev/null || fail "SIG$signal: Ghostscript still runs"
done
echo "a removed job stops Ghostscript and leaves nothing: ok"

# Processes a job takes: in a PID namespace of its own, the last PID given
# out, less the shell and the cat that reads it.
if unshare --pid --fork true 2>/dev/null || unshare --user --map-root-user --pid --fork true 2>/dev/null; then
  ns=(--pid --fork)
  unshare --pid --fork true 2>/dev/null || ns=(--user --map-root-user --pid --fork)
  for file in a4.ps a4.pdf; do
    # PID 1 is the shell, the last the cat (not the last command, so that
    # the shell forks it too).
    last=$(cd "$root" && TMPDIR=$work/tmp unshare "${ns[@]}" bash -c \
      '(exec -a lx230-filter "$0" "-Zmedia=Label 62x100" <"$1" >/dev/null) && cat /proc/sys/kernel/ns_last_pid; true' \
      "$filter" "$work/jobs/$file")
    processes=$((last - 2))
    [ "$processes" -le 6 ] || fail "a $file job took $processes processes"
    [ "$processes" -ge 2 ] || fail "a $file job counted as $processes processes: not counted right"
    echo "a $file job takes $processes processes (the filter and Ghostscript): ok"
  done
else
  echo "NOT RUN: counting a job's processes needs a PID namespace (root, or user namespaces)"
fi
