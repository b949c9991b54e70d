// Stands in for the spooler-side tool where a test needs to know only what
// the shell passed to it: writes each argument to standard output, followed
// by a zero byte.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) fwrite(argv[i], 1, strlen(argv[i]) + 1, stdout);
  return fflush(stdout) == 0 ? 0 : 1;
}
