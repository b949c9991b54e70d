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
  // What is read may end up in a data file that everyone can read: a file
  // that others may not read (say a hard link to one only root may read)
  // is never read. Its owner alone can set that bit, so the check cannot
  // be raced; other names the file may have do not matter then.
  if ((st.st_mode & S_IROTH) == 0) return EACCES;
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
