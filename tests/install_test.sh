#!/usr/bin/env bash
# Checks the install: the tree that `cmake --install` lays out under DESTDIR,
# the man pages, and (in a sandbox build whose install root is a temporary
# directory) that each installed tool name serves its own model.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR CXX CXX_FLAGS
set -euo pipefail
src=$1 build=$2 cxx=$3 cxxflags=${4-}
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
    else
      echo "$root/$m/lpd/$m-filter -> ../../lx230/lpd/lx230-filter"
    fi
    for p in kstapefmtlpr kspagefit; do
      if [ "$m" = lx230 ]; then
        echo "$root/$m/lpd/${p}_$m file"
        echo "/usr/share/man/man1/${p}_$m.1 file"
      else
        echo "$root/$m/lpd/${p}_$m -> ../../lx230/lpd/${p}_lx230"
        echo "/usr/share/man/man1/${p}_$m.1 -> ${p}_lx230.1"
      fi
    done
  done
  echo "/usr/share/doc/kestrel-label-tools/examples/printcap file"
  } | sort)
actual=$(cd "$work/dest" && find . ! -type d -printf '%P\n' | sort | while read -r f; do
  if [ -L "$f" ]; then echo "/$f -> $(readlink "$f")"; else echo "/$f file"; fi
done | sort)
[ "$expected" = "$actual" ] || { diff <(echo "$expected") <(echo "$actual"); fail "install tree"; }
for m in "${models[@]}"; do
  [ -x "$work/dest$root/$m/lpd/kstapefmtlpr_$m" ] || fail "kstapefmtlpr_$m does not run"
done
echo "install tree: ok"

# 2. Man pages render without a warning.
for page in "$src"/man/*.1; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$page: $warnings"
done
echo "man pages: ok"

# 3. Each installed name serves its own model, in a real install whose root is
# a sandbox.
sandbox=$work/root/
cmake -S "$src" -B "$work/build" -DDRIVER_ROOT="$sandbox" -DBUILD_TESTING=OFF \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" >/dev/null
cmake --build "$work/build" --target kstapefmtlpr_lx230 kspagefit_lx230 -j 2 >/dev/null
cmake --install "$work/build" --prefix "$work/usr" >/dev/null
"$src/tests/run-installed.sh" "$src" "$sandbox"
