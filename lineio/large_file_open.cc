// Linked into the programs when they carry the C++ runtime on 32-bit x86:
// the runtime's own code (std::random_device) was compiled without
// large-file support and calls open(), not open64(). With -Wl,--wrap=open
// those calls come here and open with large-file support.
#include <fcntl.h>
#include <sys/types.h>

#include <cstdarg>

static_assert(sizeof(off_t) == 8, "needs _FILE_OFFSET_BITS=64: open() is then open64()");

extern "C" int __wrap_open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  return open(path, flags, mode);
}
