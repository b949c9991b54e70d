#!/usr/bin/env bash
# The Debian package for ARCH, made as `make package` (amd64) or
# `make package32` (i386) make it, and checked as a packager would:
#   1. the control data of both packages (the CUPS one depends on the main
#      one and on nothing of LPRng's), what each holds, and that every
#      program is static (no program interpreter, no NEEDED entry) so that
#      they depend on nothing;
#   2. lintian -I -E --pedantic on the .changes (the .deb, its -dbgsym
#      package and, for the build machine's own architecture, the source);
#   3. reproducibility: a second build from a copy in another directory
#      gives byte-identical packages (diffoscope shows any difference);
#   4. the programs in an otherwise empty root (a static busybox as /bin/sh,
#      the spooler-side stand-in, a data set) give the same results as on
#      the full system;
#   5. the autopkgtests (debian/tests) in Debian chroots of ARCH made with
#      mmdebstrap: every installed name, and label jobs through that
#      system's own lpd or cupsd, the filters and Ghostscript (bookworm;
#      both in trixie, the LPRng one in bullseye).
# Everything runs in private mount namespaces or chroots: the machine's /opt
# and /etc stay as they were.
# Usage: package_test.sh SOURCE_DIR ARCH
# Exits 77 (skipped), saying why, when a tool it needs is missing or it is
# not root.
set -euo pipefail
src=$1 arch=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root (chroots, private mount namespaces)"
for tool in dpkg-buildpackage dh lintian mmdebstrap autopkgtest busybox unshare newuidmap; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (see .ci/run)"
done
native=$(dpkg --print-architecture)
if [ "$arch" != "$native" ]; then
  command -v i686-linux-gnu-g++ >/dev/null || skip "no cross compiler for $arch (crossbuild-essential-$arch)"
fi
# A program of ARCH must run here: natively, or through binfmt_misc.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

# 1. The package, and its control data.
"$src/debian/build-package.sh" "$work/a" "$arch" >/dev/null
version=$(dpkg-parsechangelog -l "$src/debian/changelog" -SVersion)
deb=$work/a/kestrel-label-tools_${version}_$arch.deb
[ -f "$deb" ] || fail "no $deb: $(ls "$work/a")"
[ -f "$work/a/kestrel-label-tools-dbgsym_${version}_$arch.deb" ] || fail "no -dbgsym package"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = kestrel-label-tools ] || fail "Package: $(field Package)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ -z "$(field Depends)" ] || fail "Depends: $(field Depends)"
[ "$(field Recommends)" = "lprng | kestrel-label-tools-cups, ghostscript" ] ||
  fail "Recommends: $(field Recommends)"
# The CUPS package: the main one and nothing of LPRng's.
cups=$work/a/kestrel-label-tools-cups_${version}_$arch.deb
[ -f "$cups" ] || fail "no $cups: $(ls "$work/a")"
[ -f "$work/a/kestrel-label-tools-cups-dbgsym_${version}_$arch.deb" ] || fail "no -cups-dbgsym package"
[ "$(dpkg-deb --field "$cups" Depends)" = "kestrel-label-tools (= $version)" ] ||
  fail "the CUPS package depends on: $(dpkg-deb --field "$cups" Depends)"
dpkg-deb --field "$cups" Depends Recommends Suggests Pre-Depends | grep -qi lprng &&
  fail "the CUPS package names LPRng: $(dpkg-deb --field "$cups")"
[ "$(dpkg-deb -c "$cups" | awk '{ print $6 }' | grep -v '/$' | sort | tr '\n' ' ')" = \
  "./usr/lib/cups/filter/kestrel-lx ./usr/share/doc/kestrel-label-tools-cups/README.Debian ./usr/share/doc/kestrel-label-tools-cups/changelog.gz ./usr/share/doc/kestrel-label-tools-cups/copyright ./usr/share/lintian/overrides/kestrel-label-tools-cups ./usr/share/man/man8/kestrel-lx.8.gz ./usr/share/ppd/kestrel/lx210.ppd ./usr/share/ppd/kestrel/lx220.ppd ./usr/share/ppd/kestrel/lx230.ppd ./usr/share/ppd/kestrel/lx240pc.ppd " ] ||
  fail "the CUPS package holds: $(dpkg-deb -c "$cups")"
dpkg-deb -c "$deb" | grep -q 'cups/filter\|share/ppd\|kestrel-lx' && fail "the main package holds CUPS files"
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -x "$cups" "$work/cups-root"
lpd=$work/root/opt/kestrel/Tavlix/lx230/lpd
size=$(du -sk --apparent-size "$work/root" | cut -f1)
installed=$(field Installed-Size)
[ "$installed" -le $((size + 64)) ] && [ "$installed" -ge $((size / 2)) ] ||
  fail "Installed-Size $installed KiB for $size KiB of files"
for program in "$lpd/kstapefmtlpr_lx230" "$lpd/kspagefit_lx230" "$lpd/lx230-filter" \
  "$work/cups-root/usr/lib/cups/filter/kestrel-lx"; do
  readelf -l "$program" | grep -q INTERP && fail "$program has a program interpreter"
  readelf -d "$program" | grep -q NEEDED && fail "$program needs: $(readelf -d "$program" | grep NEEDED)"
  readelf -S "$program" | grep -q '\.symtab' && fail "$program is not stripped"
done
echo "$arch: control data, static programs: ok (Installed-Size $installed KiB)"

# 2. Lint.
lint=$(lintian -I -E --pedantic "$work/a/kestrel-label-tools_${version}_$arch.changes" 2>&1 |
  grep -v 'running with root privileges' || true)
[ -z "$lint" ] || fail "lintian: $lint"
echo "$arch: lintian -I -E --pedantic: clean"

# 3. Reproducible.
"$src/debian/build-package.sh" "$work/b/elsewhere" "$arch" >/dev/null
for file in "$work"/a/*.deb; do
  other=$work/b/elsewhere/${file##*/}
  if ! cmp -s "$file" "$other"; then
    command -v diffoscope >/dev/null && diffoscope "$file" "$other" | head -n 60
    fail "${file##*/} differs between two builds"
  fi
done
echo "$arch: two builds from different directories: byte-identical"

# 4. An otherwise empty root.
results() {  # runs the installed programs, each prefixed by $1 (a chroot, or nothing)
  local run=$1 tool=/opt/kestrel/Tavlix/lx230/lpd/kstapefmtlpr_lx230
  $run "$tool" -P LX-230 -n 'Label 62x100' -w 62 -h 100; echo "add: $?"
  $run "$tool" -l; echo "list: $?"
  $run "$tool" -P LX-230 -d 'Shipping 62'; echo "delete: $?"
  $run "$tool" -P LX-230 -d 'Nothing'; echo "delete: $?"
  local status=0
  $run /opt/kestrel/Tavlix/lx230/lpd/kspagefit_lx230 1 2 3 4 5 600 pstops in out pagesize ||
    status=$?
  echo; echo "selector: $status"
}
layout() {  # DIR: the installed tree, a data set, the stand-in, a page-size file
  mkdir -p "$1/opt/kestrel/Tavlix/lx230/inf"
  cp -a "$work/root/opt" "$1/"
  for file in kslx230func paperinflx230pt1 kslx230rc ImagingArea; do
    install -m 0644 "$src/demo/sample/$file" "$1/opt/kestrel/Tavlix/lx230/inf/$file"
  done
  install -m 0755 "$src/testing/kstapefmtcups" "$1/opt/kestrel/Tavlix/lx230/lpd/"
  printf '*PageSize[82 144]\n' >"$1/pagesize"
}
normal() { sed -E 's/KsL[0-9A-F]{12,}/KsL<id>/g'; }
empty=$work/empty
layout "$empty"
mkdir -p "$empty/bin"
cp "$(command -v busybox)" "$empty/bin/sh"
mkdir -p "$work/f"
layout "$work/f"
full=$(unshare -m bash -c "mount --make-rprivate / && mount --bind '$work/f/opt' /opt &&
  cd '$work/f' && $(declare -f results) && results '' 2>&1")
inside=$(results "chroot $empty" 2>&1)
[ "$(ls -A "$empty" | sort | tr '\n' ' ')" = "bin opt pagesize " ] || fail "the empty root holds $(ls -A "$empty")"
if [ "$(normal <<<"$full")" != "$(normal <<<"$inside")" ]; then
  diff <(normal <<<"$full") <(normal <<<"$inside") || true
  fail "the programs behave differently in an empty root"
fi
diff -r <(cd "$work/f/opt/kestrel/Tavlix/lx230/inf" && cat -- * | normal) \
  <(cd "$empty/opt/kestrel/Tavlix/lx230/inf" && cat -- * | normal) >/dev/null ||
  fail "the data files differ after the same runs in an empty root"
echo "$arch: in an empty root (busybox as /bin/sh), the same results as on the full system: ok"

# 5. The autopkgtests in Debian chroots of ARCH: every test in bookworm;
# both quick starts in trixie, LPRng's in bullseye. Each test gets the
# chroot afresh and installs what it depends on (lprng and cups conflict).
# The releases and their updates, not the security suite: a mirror of that
# one has served an i386 index that disagreed with its own Release file for
# days, and apt then refuses the whole chroot. make test runs on the host's
# own packages, security updates and all. The mirror can also fail a fetch
# for a while (a sync in progress, a dropped connection): three tries, a
# minute apart.
mirror=http://deb.debian.org/debian
chroot_of() {  # RELEASE: $work/RELEASE.tar
  local try
  for try in 1 2 3; do
    # The package lists stay: each test installs what it depends on.
    mmdebstrap --quiet --variant=apt --architectures="$arch" --skip=cleanup/apt/lists \
      --include=apt-utils,dpkg-dev,ghostscript "$1" "$work/$1.tar" \
      "deb $mirror $1 main" "deb $mirror $1-updates main" && return
    rm -f "$work/$1.tar"
    [ "$try" = 3 ] && fail "mmdebstrap could not make a $1 $arch chroot in 3 tries"
    echo "$arch: mmdebstrap failed (try $try of 3); trying again in a minute" >&2
    sleep 60
  done
}
# autopkgtest's unshare testbed maps root to subordinate ids, which
# /etc/subuid and /etc/subgid must grant: granted here in a private mount
# namespace only.
printf 'root:1000000:65536\n' >"$work/subid"
tests_in() {  # RELEASE [TEST...]
  local release=$1
  shift
  chroot_of "$release"
  unshare -m bash -c 'mount --make-rprivate / && mount --bind "$1" /etc/subuid &&
    mount --bind "$1" /etc/subgid && shift && exec "$@"' run "$work/subid" \
    autopkgtest --quiet --no-built-binaries "${@/#/--test-name=}" "$deb" "$cups" "$src/" -- \
    unshare --arch "$arch" --tarball "$work/$release.tar" ||
    fail "autopkgtest failed in the $release $arch chroot"
  rm -f "$work/$release.tar"
  echo "$arch: autopkgtest in a $release $arch chroot (${*:-every test}): ok"
}
tests_in bookworm
tests_in trixie print-a-label print-a-label-cups
tests_in bullseye print-a-label
