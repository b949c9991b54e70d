#!/usr/bin/env bash
# Makes the Debian package with dpkg-buildpackage out of a copy of this
# tree's tracked files, in OUT_DIR, for ARCH (the build machine's own: the
# source package and the binary ones; another: cross-built binaries). The
# build is reproducible: SOURCE_DATE_EPOCH comes from debian/changelog.
# Usage: debian/build-package.sh OUT_DIR ARCH
set -euo pipefail
out=$1 arch=$2
src=$(cd "$(dirname "$0")/.." && pwd)
changelog=$src/debian/changelog
version=$(dpkg-parsechangelog -l "$changelog" -SVersion)
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$changelog" -STimestamp)
export SOURCE_DATE_EPOCH

rm -rf "$out"
tree=$out/kestrel-label-tools-$version
mkdir -p "$tree"
out=$(cd "$out" && pwd)
if [ -d "$src/.git" ]; then
  (cd "$src" && git ls-files -z --cached --others --exclude-standard) | (cd "$src" && xargs -0 cp --parents -P -t "$tree")
else
  (cd "$src" && tar --exclude='./build*' -cf - .) | tar -xf - -C "$tree"
fi

cd "$tree"
if [ "$arch" = "$(dpkg --print-architecture)" ]; then
  dpkg-buildpackage -us -uc --build=full >"$out/build.log" 2>&1
else
  dpkg-buildpackage -us -uc --build=any --host-arch "$arch" >"$out/build.log" 2>&1
fi || { tail -n 30 "$out/build.log" >&2; echo "dpkg-buildpackage failed: $out/build.log" >&2; exit 1; }
echo "Packages in $out:"
ls "$out"/*.deb | sed 's/^/  /'
