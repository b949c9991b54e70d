#!/usr/bin/env bash
# Builds the Debian package, checks its control data and contents, unpacks it
# into a throwaway root and runs the programs from there.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/*.deb)
[ "$(echo "$deb" | wc -l)" = 1 ] || fail "expected one package, got: $deb"

info=$(dpkg-deb --info "$deb")
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = kestrel-label-tools ] || fail "Package: $(field Package)"
[ -n "$(field Version)" ] || fail "no Version"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ "$(field Section)" = misc ] || fail "Section: $(field Section)"
[ -n "$(field Description)" ] || fail "no Description"
arch=$(field Architecture)
# The ELF class byte: 01 for a 32-bit program, 02 for a 64-bit one.
case "$(od -An -tx1 -j4 -N1 "$build/bin/kstapefmtlpr_lx230" | tr -d ' ')" in
  01) [ "$arch" = i386 ] || fail "32-bit build packaged as $arch" ;;
  *) [ "$arch" = "$(dpkg --print-architecture)" ] || fail "Architecture: $arch" ;;
esac
[ "$(field Depends)" = "libc6, libstdc++6" ] || fail "Depends: $(field Depends)"
echo "$info" | grep -q 'Custom label formats' || fail "description missing"

contents=$(dpkg-deb --contents "$deb" | awk '{print $6, $7, $8}')
for m in lx210 lx220 lx230 lx240pc; do
  for p in kstapefmtlpr kspagefit; do
    echo "$contents" | grep -q "^./opt/kestrel/Tavlix/$m/lpd/${p}_$m" || fail "no ${p}_$m"
    echo "$contents" | grep -q "^./usr/share/man/man1/${p}_$m.1" || fail "no ${p}_$m.1"
  done
done
echo "package control data and contents: ok"

dpkg-deb -x "$deb" "$work/root"
lpd=$work/root/opt/kestrel/Tavlix
usage=$("$lpd/lx210/lpd/kstapefmtlpr_lx210")
[ "$(echo "$usage" | sed -n 2p)" = " LPRng Tapefmt Tool (v 0.1)" ] || fail "usage: $usage"
printf 'PageSize[82 144]\n' >"$work/pagesize"
out=$("$lpd/lx240pc/lpd/kspagefit_lx240pc" 1 2 3 4 5 600 psfit in out "$work/pagesize")
[ "$out" = "$(printf 'PSCOMMAND=psfit\nCMDARGV=-w82.000000 -h144.000000 1:0@1.0(-0.060000in,0.118110in) in out')" ] ||
  fail "selector printed: $out"
zcat -f "$work/root/usr/share/man/man1/kstapefmtlpr_lx230.1"* | grep -q '^.SH EXAMPLES' || fail "man page"
echo "unpacked package runs: ok"
