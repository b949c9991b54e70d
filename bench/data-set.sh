# shellcheck shell=bash disable=SC2154  # $here, $tool and $model are the sourcing script's
# A large driver data set for the benchmarks, sourced by them.
# Needs: $here (the bench directory), $tool (the test-rooted tool), $model.

# generate DIR COUNT: COUNT formats in DIR/pristine (func, paper, rc, area,
# last-id, last-name), a spooler-side stand-in in DIR/<model>/lpd, and the
# tool as DIR/kstapefmtlpr_lx230 (it picks its model from that name; run it
# from DIR, which is its install root).
generate() {  # generate DIR COUNT
  local dir=$1 count=$2
  mkdir -p "$dir/pristine" "$dir/$model/inf" "$dir/$model/lpd"
  cp "$here/../testing/kstapefmtcups" "$dir/$model/lpd/"
  # The tool picks its model from the name it is run by; run it as
  # ./kstapefmtlpr_lx230 from the data set's directory.
  ln -s "$tool" "$dir/kstapefmtlpr_lx230"
  awk -v n="$count" -v d="$dir/pristine" 'BEGIN {
    print "# Media list of the LX-230 driver" > (d "/func")
    print "[Tape]\nDK11201 29x90\n[CustomTape]" > (d "/func")
    print "[Settings]\nCopies=1" > (d "/rc")
    for (i = 0; i < n; i++) {
      w = 20 + i % 200; h = 30 + i % 300
      id = sprintf("KsL0A%02X%03X%01X%04X", w, h, i % 16, i % 65536)
      name = sprintf("Fmt%07d", i)
      print id "/" name > (d "/func")
      printf "%s/%s:\t%d\t%d\n", id, name, int((w - 3) / 25.43859649 * 300), int((h - 6) / 25.43859649 * 300) > (d "/paper")
      printf "%s\t:\t4.32\t8.40\t%.2f\t%.2f\n", id, w / 25.43859649 * 72 - 4.32, h / 25.43859649 * 72 - 8.4 > (d "/area")
    }
    print "MediaSize=" id > (d "/rc")
    print "Halftone=Binary" > (d "/rc")
    print "[End]" > (d "/func")
    print id > (d "/last-id")
    print name > (d "/last-name")
  }'
}

# restore DIR: the data files as generated, each a fresh copy, flushed.
restore() {  # restore DIR
  local inf=$1/$model/inf
  rm -f "$inf"/*
  cp "$1/pristine/func" "$inf/ks${model}func"
  cp "$1/pristine/paper" "$inf/paperinf${model}pt1"
  cp "$1/pristine/rc" "$inf/ks${model}rc"
  cp "$1/pristine/area" "$inf/ImagingArea"
  sync
}
