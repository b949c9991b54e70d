#include <cstdio>
#include <cstdlib>

#include "print/lpr_filter.h"

int main(int argc, char** argv) {
  return RunLprFilter(argc, argv, KS_DRIVER_ROOT, getenv("PRINTCAP_ENTRY"), getenv("TMPDIR"),
                      getenv("PATH"), 0, 1, stderr);
}
