#include <cstdio>
#include <cstdlib>

#include "print/cups_filter.h"

int main(int argc, char** argv) {
  CupsEnvironment env;
  env.ppd = getenv("PPD");
  env.temp_dir = getenv("TMPDIR");
  env.path = getenv("PATH");
  env.server_bin = getenv("CUPS_SERVERBIN");
  return RunCupsFilter(argc, argv, KS_DRIVER_ROOT, env, 0, 1, stderr);
}
