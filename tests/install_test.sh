#!/usr/bin/env bash
# Checks the install: the tree that `cmake --install` lays out under DESTDIR,
# the man pages, and (with the build's tool rooted at the working directory
# in that tree) that each installed tool name serves its own model.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
models=(lx210 lx220 lx230 lx240pc)

# 1. The tree under DESTDIR.
DESTDIR=$work/dest cmake --install "$build" --prefix /usr >/dev/null
root=/opt/kestrel/Tavlix
expected=$({
  for m in "${models[@]}"; do
    if [ "$m" = lx230 ]; then
      echo "$root/$m/lpd/$m-filter file"
      echo "/usr/share/man/man8/$m-filter.8 file"
    else
      echo "$root/$m/lpd/$m-filter -> ../../lx230/lpd/lx230-filter"
      echo "/usr/share/man/man8/$m-filter.8 -> lx230-filter.8"
    fi
    for p in kstapefmtlpr kspagefit; do
      if [ "$m" = lx230 ]; then
        echo "$root/$m/lpd/${p}_$m file"
        echo "/usr/share/man/man8/${p}_$m.8 file"
      else
        echo "$root/$m/lpd/${p}_$m -> ../../lx230/lpd/${p}_lx230"
        echo "/usr/share/man/man8/${p}_$m.8 -> ${p}_lx230.8"
      fi
    done
    echo "/usr/sbin/kstapefmtlpr_$m -> $root/$m/lpd/kstapefmtlpr_$m"
    echo "/usr/bin/kstapefmtlpr_$m -> $root/$m/lpd/kstapefmtlpr_$m"
    if [ "$m" = lx230 ]; then
      echo "/usr/share/man/man1/kstapefmtlpr_$m.1 file"
    else
      echo "/usr/share/man/man1/kstapefmtlpr_$m.1 -> kstapefmtlpr_lx230.1"
    fi
  done
  echo "/usr/share/doc/kestrel-label-tools/examples/printcap file"
  # CUPS: one filter for all models, a PPD for each.
  echo "/usr/lib/cups/filter/kestrel-lx file"
  echo "/usr/share/man/man8/kestrel-lx.8 file"
  for m in "${models[@]}"; do echo "/usr/share/ppd/kestrel/$m.ppd file"; done
  } | sort)
actual=$(cd "$work/dest" && find . ! -type d -printf '%P\n' | sort | while read -r f; do
  if [ -L "$f" ]; then echo "/$f -> $(readlink "$f")"; else echo "/$f file"; fi
done | sort)
[ "$expected" = "$actual" ] || { diff <(echo "$expected") <(echo "$actual"); fail "install tree"; }
for m in "${models[@]}"; do
  [ -x "$work/dest$root/$m/lpd/kstapefmtlpr_$m" ] || fail "kstapefmtlpr_$m does not run"
done
echo "install tree: ok"

# 2. Man pages render without a warning, and carry the version of the
# project and of its Debian package.
version=$(sed -n 's/^project(.* VERSION \([0-9.]*\) .*/\1/p' "$src/CMakeLists.txt")
debian=$(sed -n '1s/^[^ ]* (\([^)-]*\).*/\1/p' "$src/debian/changelog")
[ "$version" = "$debian" ] || fail "version $version in CMakeLists.txt, $debian in debian/changelog"
for page in "$work"/dest/usr/share/man/man[18]/*.[18]; do
  [ -L "$page" ] && continue
  warnings=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$page: $warnings"
  grep -Eq "^\.TH .* \"kestrel-label-tools(-cups)? $version\"" "$page" || fail "$page: not version $version"
done
echo "man pages: ok"

# Each PPD names its own model for the filter, and the filter by the name
# it is installed under.
for m in "${models[@]}"; do
  ppd=$work/dest/usr/share/ppd/kestrel/$m.ppd
  grep -qx "\*KestrelModel: \"$m\"" "$ppd" || fail "$m.ppd does not name model $m"
  [ "$(grep -c '^\*cupsFilter2: ".* 0 kestrel-lx"$' "$ppd")" = 2 ] || fail "$m.ppd: $(grep cupsFilter "$ppd")"
done
echo "PPDs: ok"

# 3. Each installed name serves its own model, in the tree just installed,
# with the tool built rooted at the working directory (the build's
# kstapefmtlpr_testroot, the same program) in place of the real one.
root=$work/dest/opt/kestrel/Tavlix/
install -m 0755 "$build/sandboxed/kstapefmtlpr_testroot" "$root/lx230/lpd/kstapefmtlpr_lx230"
(cd "$root" && "$src/tests/run-installed.sh" "$src" "$root")
