# shellcheck shell=bash
# What the print tests share, sourced by them: a driver data set, test
# jobs, and what Ghostscript makes of what a filter sent.

# driver ROOT SRC: the sample data set of model lx230 and the spooler-side
# stand-in under the install root ROOT, as the driver installs them.
driver() {
  mkdir -p "$1/lx230/inf" "$1/lx230/lpd"
  for file in kslx230func paperinflx230pt1 kslx230rc ImagingArea; do
    cp "$2/demo/sample/$file" "$1/lx230/inf/$file"
  done
  cp "$2/testing/kstapefmtcups" "$1/lx230/lpd/"
}

# job TITLE PAGE-SIZE-LINES: a one-page PostScript job, a filled
# rectangle well inside its page showing where the page went.
job() {
  printf '%%!PS-Adobe-3.0\n%s%%%%Title: %s\n%%%%Pages: 1\n%%%%EndComments\n' "$2" "$1"
  printf '%%%%Page: 1 1\nnewpath 20 30 moveto 40 0 rlineto 0 60 rlineto -40 0 rlineto closepath fill\n'
  printf 'showpage\n%%%%EOF\n'
}

# a4 TITLE: an A4 page, framed, with a rectangle at two corners.
a4() {
  printf '%%!PS-Adobe-3.0\n%%%%BoundingBox: 0 0 595 842\n%%%%Title: %s\n%%%%EndComments\n' "$1"
  printf '<< /PageSize [595 842] >> setpagedevice\n'
  printf '10 setlinewidth 40 40 515 762 rectstroke 60 60 100 100 rectfill 435 682 100 100 rectfill\n'
  printf 'showpage\n%%%%EOF\n'
}

# requested FILE: "W H", the page size its first page asks for.
requested() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=nullpage -c \
    '<< /EndPage { exch pop 0 eq { currentpagedevice /PageSize get aload pop exch == == flush } if true } >> setpagedevice' \
    -f "$1" 2>/dev/null | head -n 2 | paste -sd ' '
}

# marks FILE: "x0 y0 x1 y1", the box of its first page's marks.
marks() { gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bbox "$1" 2>&1 | sed -n 's/^%%HiResBoundingBox: //p' | head -n 1; }

# near A B E: whether A and B are within E of each other.
near() { awk -v a="$1" -v b="$2" -v e="$3" 'BEGIN { d = a - b; exit !(d <= e && d >= -e) }'; }

# mm MM: millimetres in points.
mm() { awk -v v="$1" 'BEGIN { printf "%.3f", v / 25.4 * 72 }'; }

# on_page LABEL FILE W H: FILE asks for W x H (within 0.5 pt) and its marks
# lie on that page; prints the marks' box.
on_page() {
  local label=$1 file=$2 w=$3 h=$4 rw rh x0 y0 x1 y1
  read -r rw rh < <(requested "$file")
  { near "$rw" "$w" 0.5 && near "$rh" "$h" 0.5; } || fail "$label: the page asks for $rw x $rh, not $w x $h"
  read -r x0 y0 x1 y1 < <(marks "$file")
  awk -v a="$x0" -v b="$y0" -v c="$x1" -v d="$y1" -v w="$w" -v h="$h" \
    'BEGIN { exit !(a >= 0 && b >= 0 && c <= w && d <= h && c - a > 10 && d - b > 10) }' ||
    fail "$label: marks at $x0 $y0 $x1 $y1, not on the $w x $h page"
  echo "$x0 $y0 $x1 $y1"
}

# placed LABEL JOB X0 Y0 X1 SHIFT: the marks of what was sent for the job
# file JOB (their box starting at X0 Y0, right edge X1) are JOB's own moved
# by SHIFT ("dx dy" in points, within 0.05), or, for SHIFT "scaled", scaled.
placed() {
  local label=$1 file=$2 x0=$3 y0=$4 x1=$5 shift=$6 ix iy dx dy
  if [ "$shift" = scaled ]; then
    awk -v a="$x0" -v c="$x1" 'BEGIN { exit !(c - a > 30 && c - a < 200) }' || fail "$label: not scaled"
    return
  fi
  read -r ix iy _ < <(marks "$file")
  read -r dx dy <<<"$shift"
  { near "$(awk -v a="$x0" -v b="$ix" 'BEGIN { print a - b }')" "$dx" 0.05 &&
    near "$(awk -v a="$y0" -v b="$iy" 'BEGIN { print a - b }')" "$dy" 0.05; } ||
    fail "$label: the marks moved from $ix $iy to $x0 $y0, not by $dx $dy"
}
