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
expected=$(
  for m in "${models[@]}"; do
    for p in kstapefmtlpr kspagefit; do
      if [ "$m" = lx230 ]; then
        echo "$root/$m/lpd/${p}_$m file"
        echo "/usr/share/man/man1/${p}_$m.1 file"
      else
        echo "$root/$m/lpd/${p}_$m -> ../../lx230/lpd/${p}_lx230"
        echo "/usr/share/man/man1/${p}_$m.1 -> ${p}_lx230.1"
      fi
    done
  done | sort)
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
for m in "${models[@]}"; do
  mkdir -p "$sandbox$m/inf"
  cp "$src/testing/kstapefmtcups" "$sandbox$m/lpd/"
  printf '[CustomTape]\n' >"$sandbox$m/inf/ks${m}func"
  : >"$sandbox$m/inf/paperinf${m}pt1"
  : >"$sandbox$m/inf/ks${m}rc"
  : >"$sandbox$m/inf/ImagingArea"
done
printf 'PageSize[82 144]\n' >"$work/pagesize"
for m in "${models[@]}"; do
  "$sandbox$m/lpd/kstapefmtlpr_$m" -P LX -n "Label of $m" -w 29 -h 70 ||
    fail "kstapefmtlpr_$m exited with $?"
  out=$("$sandbox$m/lpd/kspagefit_$m" 1 2 3 4 5 600 psfit in out "$work/pagesize")
  [ "$out" = "$(printf 'PSCOMMAND=psfit\nCMDARGV=-w82.000000 -h144.000000 1:0@1.0(-0.060000in,0.118110in) in out')" ] ||
    fail "kspagefit_$m printed: $out"
done
for m in "${models[@]}"; do
  for other in "${models[@]}"; do
    if grep -q "/Label of $other\$" "$sandbox$m/inf/ks${m}func"; then
      [ "$m" = "$other" ] || fail "kstapefmtlpr_$other wrote into $m"
    else
      [ "$m" != "$other" ] || fail "kstapefmtlpr_$m did not write into $m"
    fi
  done
done
echo "each installed name serves its own model: ok"
