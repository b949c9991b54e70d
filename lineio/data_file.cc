#include "lineio/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

FILE* CloseAndFail(int fd, int error) {
  close(fd);
  errno = error;
  return nullptr;
}

}  // namespace

int CheckDataFile(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (S_ISLNK(st.st_mode)) return ELOOP;
  if (!S_ISREG(st.st_mode)) return EPERM;
  // Another name for the same file could be a link to something the caller
  // may read and the one who planted it may not.
  if (st.st_nlink != 1) return EMLINK;
  return 0;
}

FILE* OpenDataFile(int dir_fd, const char* name) {
  int fd = openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0) return CloseAndFail(fd, errno);
  if (int error = CheckDataFile(st); error != 0) return CloseAndFail(fd, error);
  FILE* in = fdopen(fd, "r");  // O_NONBLOCK means nothing for a regular file
  if (in == nullptr) return CloseAndFail(fd, errno);
  return in;
}
