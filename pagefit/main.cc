#include <cstdio>

#include "pagefit/page_fit.h"

int main(int argc, char** argv) {
  RunPageFit(argc, argv, stdout, stderr);
  fflush(stdout);
  return 0;  // the print filter reads the output, never the status
}
