#include <cstdio>

#include "tool/run_tool.h"

int main(int argc, char** argv) {
  int status = RunTool(argc, argv, KS_DRIVER_ROOT, stdout);
  if (fflush(stdout) != 0) return -1;
  return status;
}
