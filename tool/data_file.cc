#include "tool/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

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
  // that not everyone may read (say a hard link to one only root may read)
  // is never read. Its owner alone can set these bits, so the check cannot
  // be raced; other names the file may have do not matter then. Root could
  // read anything, so for root the owner and the group must be able to read
  // it too (a file of mode 0604 whose group is someone's is not theirs to
  // read).
  const mode_t all = geteuid() == 0 ? (S_IRUSR | S_IRGRP | S_IROTH) : S_IROTH;
  if ((st.st_mode & all) != all) return EACCES;
  return 0;
}

int CheckAcl(int fd) {
  if (geteuid() != 0) return 0;  // the kernel applies the ACL to anyone else
  // An access ACL: a 4-byte version, then 8-byte entries (tag, permissions,
  // id, little-endian). Any entry without read permission denies someone.
  std::vector<unsigned char> acl(64 * 1024);
  const ssize_t size = fgetxattr(fd, "system.posix_acl_access", acl.data(), acl.size());
  if (size < 0) return errno == ENODATA || errno == ENOTSUP ? 0 : errno;
  if (size < 4 || (size - 4) % 8 != 0) return EACCES;
  for (ssize_t at = 4; at < size; at += 8) {
    const unsigned permissions = acl[at + 2] | (acl[at + 3] << 8);
    if ((permissions & 4) == 0) return EACCES;
  }
  return 0;
}

FILE* OpenDataFile(int dir_fd, const char* name) {
  int fd = openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0) return CloseAndFail(fd, errno);
  if (int error = CheckDataFile(st); error != 0) return CloseAndFail(fd, error);
  if (int error = CheckAcl(fd); error != 0) return CloseAndFail(fd, error);
  FILE* in = fdopen(fd, "r");  // O_NONBLOCK means nothing for a regular file
  if (in == nullptr) return CloseAndFail(fd, errno);
  return in;
}
