#!/usr/bin/env bash
# Prints jobs through a real CUPS scheduler whose queue uses the LX-230's
# PPD and the kestrel-lx filter, and checks what reaches the printer (a
# file: device), rendered by Ghostscript at the size it asks for:
#   - a format added after the queue was made prints by name at once (blanks
#     and UTF-8 in the name, quoted for lp), by identifier, and so does one
#     replaced later, with no restart and no change to the PPD; a standard
#     medium by PageSize=, a size, a free size, PostScript and PDF;
#   - precedence: the job's PageSize over its media, the job's medium over
#     the queue's media-default (lpadmin -o), that over the model's default
#     (the rc file), that over the job's own page; the PPD's Default names
#     none; a PWG name (an IPP client's) is its size;
#   - copies: the document sent that many times;
#   - failures where CUPS users look: an unknown medium, a job that draws no
#     page, a time limit set for the queue: the job stops with the reason as
#     its state message (lpstat -l -o), nothing is sent, the queue stays
#     enabled and the next job prints; a stopped job restarted once its
#     medium exists prints; a job cancelled while Ghostscript runs it leaves
#     nothing behind;
#   - what the LPRng filter sends for the same job and medium is the same,
#     byte for byte but for its creation date.
#
# cupsd (Debian's, unpacked from its packages: cups-client conflicts with
# LPRng, so nothing is installed) runs in private mount and network
# namespaces (loopback only), on a socket and directories of its own, as
# Debian runs it: filters as the user lp, its own PATH and TMPDIR. The
# packages are fetched once with apt-get download into CUPS_DEBS (default:
# BINARY_DIR/cups-debs).
# Usage: cups_test.sh SOURCE_DIR BINARY_DIR CUPS_FILTER_TESTROOT LPR_FILTER_TESTROOT TOOL_TESTROOT
# Exits 77 (skipped), saying why, when not root, when a tool is missing or
# when the packages cannot be fetched.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }
packages=(cups-daemon cups-client cups-common cups-server-common libcups2)

if [ "${1-}" != --inside ]; then
  [ "$(id -u)" = 0 ] || skip "needs root (cupsd, private namespaces)"
  for tool in gs unshare apt-get dpkg-deb; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
  done
  getent passwd lp >/dev/null || skip "there is no user lp, which CUPS runs filters as"
  debs=${CUPS_DEBS:-$2/cups-debs}
  mkdir -p "$debs"
  for package in "${packages[@]}"; do
    if ! ls "$debs/${package}"_*.deb >/dev/null 2>&1; then
      # Lists too old for the mirror's files are brought up to date once.
      fetch() { (cd "$debs" && apt-get download "${packages[@]}") >"$debs/download.log" 2>&1; }
      fetch || { apt-get update >/dev/null 2>&1 && fetch; } ||
        skip "cannot fetch ${packages[*]} with apt-get download: $(tail -n 1 "$debs/download.log")"
      break
    fi
  done
  # The filter runs as lp: everything it needs lies where lp may reach it.
  work=$(mktemp -d /tmp/cups-test.XXXXXX)
  trap '[ -n "${KS_KEEP-}" ] || rm -rf "$work"' EXIT
  chmod 755 "$work"
  for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$work/cups"; done
  # Mount, network and PID namespaces: cupsd sees only loopback, and the
  # processes counted are this test's own.
  unshare -m -n -p -f --mount-proc bash ${KS_TRACE:+-x} "$0" --inside "$@" "$work"
  exit
fi
shift
src=$1 build=$2 cups_filter=$3 lpr_filter=$4 tool=$5 work=$6
# shellcheck source=tests/print_checks.sh
. "$src/tests/print_checks.sh"
mount --make-rprivate /
if command -v ip >/dev/null; then ip link set lo up; fi

x=$work/cups
# The unpacked libcups, of cupsd's own version.
LD_LIBRARY_PATH=$(dirname "$(find "$x/usr/lib" -name 'libcups.so.2' | head -n 1)")
export LD_LIBRARY_PATH
lp() { "$x/usr/bin/lp" "$@"; }
lpstat() { "$x/usr/bin/lpstat" "$@"; }
lpadmin() { "$x/usr/sbin/lpadmin" "$@" 2> >(grep -v 'drivers are deprecated' >&2); }
cancel() { "$x/usr/bin/cancel" "$@"; }
mkdir -p "$work/etc/ppd" "$work/spool/tmp" "$work/cache" "$work/log" "$work/run" \
  "$work/serverbin/filter" "$work/serverbin/backend" "$work/serverbin/daemon" "$work/out" \
  "$work/bin" "$work/jobs" "$work/got"
cp "$x/usr/lib/cups/daemon/cups-exec" "$work/serverbin/daemon/"
cp "$cups_filter" "$lpr_filter" "$tool" "$work/bin/"

# The driver, as installed: the data set of model lx230, its default
# medium a standard one; the filter (the test build, rooted at the working
# directory) run from its root.
root=$work/root
driver "$root" "$src"
printf '#!/bin/sh\ncd %s && exec %s "$@"\n' "$root" "$work/bin/$(basename "$cups_filter")" \
  >"$work/serverbin/filter/kestrel-lx"
chmod 755 "$work/serverbin/filter/kestrel-lx" "$work/bin"/*
tool230() { (cd "$root" && exec -a kstapefmtlpr_lx230 "$work/bin/$(basename "$tool")" "$@"); }
sed -i "/^MediaSize=/d" "$root/lx230/inf/kslx230rc"
chmod -R a+rX "$root"

cat >"$work/etc/cups-files.conf" <<CONF
User lp
Group lp
SystemGroup root
FileDevice Yes
ServerRoot $work/etc
ServerBin $work/serverbin
DataDir $x/usr/share/cups
DocumentRoot $x/usr/share/cups/doc-root
RequestRoot $work/spool
TempDir $work/spool/tmp
CacheDir $work/cache
StateDir $work/run
ErrorLog $work/log/error_log
AccessLog $work/log/access_log
PageLog $work/log/page_log
CONF
cat >"$work/etc/cupsd.conf" <<CONF
LogLevel debug
Listen $work/run/cups.sock
Browsing Off
WebInterface No
JobRetryLimit 0
<Location />
  Order allow,deny
  Allow all
</Location>
CONF
chown -R lp:lp "$work/cache"
chown root:lp "$work/spool" "$work/spool/tmp"
chmod 0710 "$work/spool"
chmod 1770 "$work/spool/tmp"
chown lp "$work/out"
export CUPS_SERVER=$work/run/cups.sock
"$x/usr/sbin/cupsd" -f -c "$work/etc/cupsd.conf" -s "$work/etc/cups-files.conf" &
cupsd=$!
trap 'kill $cupsd 2>/dev/null; wait $cupsd 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -S "$work/run/cups.sock" ] && break; sleep 0.1; done
[ -S "$work/run/cups.sock" ] || fail "cupsd did not start: $(tail -n 5 "$work/log/error_log")"

for ppd in "$build"/ppd/*.ppd; do
  # -W filters: the filter is not in /usr/lib/cups/filter here.
  "$x/usr/bin/cupstestppd" -q -W filters "$ppd" ||
    fail "cupstestppd: $("$x/usr/bin/cupstestppd" -W filters "$ppd")"
done
lpadmin -p LX-230 -E -v "file://$work/out/LX-230" -P "$build/ppd/lx230.ppd"
lpstat -p LX-230 | grep -q 'is idle' || fail "the queue is not ready: $(lpstat -p LX-230)"

# submit ARGS...: prints the job's id.
submit() { lp -d LX-230 "$@" | sed -n 's/^request id is \(LX-230-[0-9]*\) .*/\1/p'; }
idle() { lpstat -p LX-230 | grep -q 'is idle'; }
# printed ID LABEL: waits (60 s at most) for job ID to complete; its output
# goes to $work/got/LABEL.ps.
printed() {
  local id=$1 label=$2
  for _ in $(seq 600); do
    if lpstat -W completed -o LX-230 | grep -q "^$id "; then
      idle || { sleep 0.1; continue; }
      cp "$work/out/LX-230" "$work/got/$label.ps"
      return 0
    fi
    if lpstat -l -o LX-230 | grep -A1 "^$id " | grep -q 'Status: .'; then
      idle && fail "$label: job $id stopped: $(lpstat -l -o LX-230 | grep -A1 "^$id ")"
    fi
    sleep 0.1
  done
  fail "$label: job $id did not complete in 60 s: $(lpstat -l -o LX-230)"
}
# stopped ID LABEL REASON: waits for job ID to stop with REASON as its state
# message, the queue idle and enabled, nothing sent.
stopped() {
  local id=$1 label=$2 reason=$3 before
  before=$(cat "$work/out/LX-230" 2>/dev/null || true)
  for _ in $(seq 600); do
    if lpstat -l -o LX-230 | grep -A1 "^$id " | grep -qF "Status: $reason" && idle; then
      lpstat -p LX-230 | grep -q enabled || fail "$label: the queue was disabled"
      [ ! -s "$work/out/LX-230" ] || [ "$(cat "$work/out/LX-230")" = "$before" ] ||
        fail "$label: something was sent: $(head -c 200 "$work/out/LX-230")"
      echo "ok: $label: $reason"
      return 0
    fi
    lpstat -W completed -o LX-230 | grep -q "^$id " && fail "$label: job $id printed"
    sleep 0.1
  done
  fail "$label: job $id did not stop with '$reason' in 60 s: $(lpstat -l -o LX-230)"
}
# expect LABEL W H ARGS...: the job prints on W x H points.
expect() {
  local label=$1 w=$2 h=$3 id
  shift 3
  id=$(submit "$@")
  [ -n "$id" ] || fail "$label: lp refused the job"
  printed "$id" "$label"
  on_page "$label" "$work/got/$label.ps" "$w" "$h" >/dev/null
  echo "ok: $label: $w x $h"
}

a4 a4 >"$work/jobs/a4.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/jobs/a4.pdf" "$work/jobs/a4.ps"
job label-82x144 $'%%BoundingBox: 0 0 82 144\n' |
  sed '/^%%Page:/i << /PageSize [82 144] >> setpagedevice' >"$work/jobs/small.ps"
printf '%%!PS\n%% draws nothing\n' >"$work/jobs/blank.ps"
printf '%%!PS\n{ 1 1 add pop } loop\n' >"$work/jobs/endless.ps"
chmod a+r "$work/jobs"/*

# Formats added after the queue was made.
tool230 -P LX-230 -n 'Label 62x100' -w 62 -h 100
tool230 -P LX-230 -n 'Étiquette 50×30' -w 50 -h 30
id50=$(tool230 -l | awk -F '\t' '$1 == "Étiquette 50×30" { print $3 }')
[ -n "$id50" ] || fail "the format was not added: $(tool230 -l)"

expect "by name, blanks quoted" "$(mm 62)" "$(mm 100)" -o "media='Label 62x100'" "$work/jobs/a4.ps"
expect "by a UTF-8 name, PDF" "$(mm 50)" "$(mm 30)" -o "media='Étiquette 50×30'" "$work/jobs/a4.pdf"
expect "by identifier" "$(mm 50)" "$(mm 30)" -o "media=$id50" "$work/jobs/a4.ps"
expect "a standard medium by PageSize" "$(mm 29)" "$(mm 90)" -o PageSize=29x90 "$work/jobs/a4.ps"
expect "a free size" "$(mm 40.5)" "$(mm 25)" -o media=40.5x25mm "$work/jobs/a4.pdf"
expect "PageSize over media" "$(mm 29)" "$(mm 90)" -o "media='Label 62x100'" -o PageSize=29x90 \
  "$work/jobs/a4.ps"
expect "no medium: the job's own page" 82 144 "$work/jobs/small.ps"

# The same job and medium through the LPRng filter: the same bytes.
(cd "$root" && TMPDIR=$work/spool/tmp bash -c 'exec -a lx230-filter "$0" "$@"' \
  "$work/bin/$(basename "$lpr_filter")" '-Zmedia=Label 62x100') <"$work/jobs/a4.ps" >"$work/got/lpr.ps"
diff <(grep -v '^%%CreationDate' "$work/got/lpr.ps") \
  <(grep -v '^%%CreationDate' "$work/got/by name, blanks quoted.ps") >/dev/null ||
  fail "the LPRng filter and the CUPS filter send different pages for the same job"
echo "ok: the LPRng filter sends the same page"

# Copies: the whole document, twice.
expect "two copies" "$(mm 62)" "$(mm 100)" -n 2 -o "media='Label 62x100'" "$work/jobs/a4.ps"
[ "$(grep -c '^%%DocumentMedia' "$work/got/two copies.ps")" = 2 ] ||
  fail "two copies: $(grep -c '^%%DocumentMedia' "$work/got/two copies.ps") documents sent"

# The queue's default by name; the job's own medium wins over it; the
# model's default below it.
lpadmin -p LX-230 -o "media-default='Label 62x100'"
expect "the queue's default" "$(mm 62)" "$(mm 100)" "$work/jobs/a4.ps"
expect "the job's medium over the queue's" "$(mm 29)" "$(mm 90)" -o media=29x90 "$work/jobs/a4.ps"
expect "the PPD's Default: the queue's" "$(mm 62)" "$(mm 100)" -o PageSize=Default "$work/jobs/a4.ps"
lpadmin -p LX-230 -o media-default=Default
echo "MediaSize=$id50" >>"$root/lx230/inf/kslx230rc"
expect "the model's default" "$(mm 50)" "$(mm 30)" "$work/jobs/a4.pdf"
# What an IPP client sends: a PWG name, which holds the size.
expect "a PWG media name" "$(mm 38.1)" "$(mm 57.15)" -o media=oe_x_1.5x2.25in "$work/jobs/a4.ps"

# Replaced: the new size at once.
tool230 -P LX-230 -n 'Label 62x100' -w 62 -h 80
expect "a format replaced" "$(mm 62)" "$(mm 80)" -o "media='Label 62x100'" "$work/jobs/a4.ps"

# Failures: the reason in lpstat -l -o, nothing sent, the next job prints.
id=$(submit -o media=Nothing "$work/jobs/a4.ps")
stopped "$id" "an unknown medium" "unknown medium: Nothing (see kstapefmtlpr_lx230 -l)"
expect "the next job" "$(mm 29)" "$(mm 90)" -o PageSize=29x90 "$work/jobs/a4.ps"
# ... and once the medium exists, the stopped job prints when restarted.
tool230 -P LX-230 -n 'Nothing' -w 38 -h 90
lp -i "$id" -H restart
printed "$id" "restarted"
on_page restarted "$work/got/restarted.ps" "$(mm 38)" "$(mm 90)" >/dev/null
echo "ok: a stopped job restarted once its medium exists"
id=$(submit -o PageSize=29x90 "$work/jobs/blank.ps")
stopped "$id" "a job that draws nothing" "the job draws no page"
lpadmin -p LX-230 -o ks_time_limit-default=1
id=$(submit -o PageSize=29x90 "$work/jobs/endless.ps")
stopped "$id" "the queue's time limit" "the job went over its time limit of 1 s (ks_time_limit)"
lpadmin -p LX-230 -R ks_time_limit-default

# Cancelled while Ghostscript runs it: stopped, nothing left, the queue on.
id=$(submit -o PageSize=29x90 "$work/jobs/endless.ps")
for _ in $(seq 100); do pgrep -u lp -x gs >/dev/null && break; sleep 0.1; done
pgrep -u lp -x gs >/dev/null || fail "Ghostscript did not start on the endless job"
cancel "$id"
for _ in $(seq 100); do pgrep -u lp -x gs >/dev/null || break; sleep 0.1; done
pgrep -u lp -x gs >/dev/null && fail "Ghostscript still runs after the job was cancelled"
expect "after a cancelled job" "$(mm 29)" "$(mm 90)" -o PageSize=29x90 "$work/jobs/a4.ps"
left=$(find "$work/spool/tmp" -mindepth 1 -name 'lx-filter.*')
[ -z "$left" ] || fail "job directories left behind: $left"
echo "ok: a cancelled job stops Ghostscript; no job directory is left"
