#!/usr/bin/env bash
# Builds the Debian package as `make package` does (a Release build, of the
# given compiler flags: -m32 gives the i386 package), checks its control data
# and contents, lints it, unpacks it into a throwaway root and runs every
# installed name there. The programs' install root is fixed at
# /opt/kestrel/Tavlix/, so they run in a private mount namespace in which the
# unpacked /opt stands over the machine's, which stays untouched.
# Usage: package_test.sh SOURCE_DIR CXX CXX_FLAGS
# Exits 77 (skipped) without lintian, or without a private mount namespace.
set -euo pipefail
src=$1 cxx=$2 cxxflags=${3-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }
command -v lintian >/dev/null || skip "lintian is not installed"
unshare -m true 2>/dev/null || skip "no private mount namespace (unshare -m needs root)"

cmake -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" >/dev/null
cmake --build "$work/build" -j 2 >/dev/null
(cd "$work/build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/*.deb)
[ "$(echo "$deb" | wc -l)" = 1 ] || fail "expected one package, got: $deb"

# 1. Control data.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = kestrel-label-tools ] || fail "Package: $(field Package)"
[ "$(field Section)" = misc ] || fail "Section: $(field Section)"
[ -n "$(field Version)" ] && [ -n "$(field Maintainer)" ] || fail "no Version or Maintainer"
program=$work/build/bin/kstapefmtlpr_lx230
# The ELF class byte: 01 for a 32-bit program, 02 for a 64-bit one.
case "$(od -An -tx1 -j4 -N1 "$program" | tr -d ' ')" in
  01) [ "$(field Architecture)" = i386 ] || fail "32-bit build packaged as $(field Architecture)" ;;
  *) [ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)" ;;
esac
# The C library alone, with the version the programs need.
[[ "$(field Depends)" =~ ^libc6\ \(\>=\ 2\.[0-9]+\)$ ]] || fail "Depends: $(field Depends)"
description=$(field Description)
[ "$(echo "$description" | sed -n 1p)" != "$(echo "$description" | sed -n 2p | sed 's/^ //')" ] ||
  fail "the synopsis is repeated in the description"
echo "package control data: ok ($(field Architecture), Depends: $(field Depends))"

# 2. Lint: nothing but the tags the package overrides, each with its reason.
lint=$(lintian -I -E --pedantic "$deb" 2>&1 | grep -v 'running with root privileges' || true)
[ -z "$lint" ] || fail "lintian: $lint"
echo "lintian -I -E --pedantic: clean"

# 3. Unpacked: stripped programs, compressed man pages, every name run.
dpkg-deb -x "$deb" "$work/root"
lpd=$work/root/opt/kestrel/Tavlix/lx230/lpd
for p in kstapefmtlpr_lx230 kspagefit_lx230; do
  ! readelf -S "$lpd/$p" | grep -q '\.symtab' || fail "$p is not stripped"
done
for m in lx210 lx220 lx230 lx240pc; do
  for p in kstapefmtlpr kspagefit; do
    zcat "$work/root/usr/share/man/man1/${p}_$m.1.gz" | grep -q '^\.SH NAME' || fail "${p}_$m.1.gz"
  done
done
zcat "$work/root/usr/share/doc/kestrel-label-tools/changelog.gz" | head -n 1 | grep -q '^kestrel-label-tools (' ||
  fail "changelog"
unshare -m bash -c 'mount --make-rprivate / && mount --bind "$1/opt" /opt && "$2/tests/run-installed.sh" "$2" /opt/kestrel/Tavlix/' \
  run "$work/root" "$src"
