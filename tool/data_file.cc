#include "tool/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

Status CloseAndFail(int fd, Status status) {
  close(fd);
  return status;
}

}  // namespace

Status CheckDataFile(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return Status::Error(EISDIR);
  if (S_ISLNK(st.st_mode)) return Status::Error(ELOOP);
  if (!S_ISREG(st.st_mode)) return Status::Error(EPERM);
  // What is read may end up in a data file that everyone can read: a file
  // that not everyone may read (say a hard link to one only root may read)
  // is never read. Its owner alone can set these bits, so the check cannot
  // be raced; other names the file may have do not matter then. Root could
  // read anything, so for root the owner and the group must be able to read
  // it too (a file of mode 0604 whose group is someone's is not theirs to
  // read).
  const mode_t all = geteuid() == 0 ? (S_IRUSR | S_IRGRP | S_IROTH) : S_IROTH;
  if ((st.st_mode & all) != all) return Status::Error(EACCES);
  return {};
}

Status CheckAcl(int fd) {
  if (geteuid() != 0) return {};  // the kernel applies the ACL to anyone else
  // An access ACL: a 4-byte version, then 8-byte entries (tag, permissions,
  // id, little-endian). Any entry without read permission denies someone.
  std::vector<unsigned char> acl(64 * 1024);
  const ssize_t size = fgetxattr(fd, "system.posix_acl_access", acl.data(), acl.size());
  if (size < 0) return errno == ENODATA || errno == ENOTSUP ? Status() : Status::FromErrno();
  if (size < 4 || (size - 4) % 8 != 0) return Status::Error(EACCES);
  for (ssize_t at = 4; at < size; at += 8) {
    const unsigned permissions = acl[at + 2] | (acl[at + 3] << 8);
    if ((permissions & 4) == 0) return Status::Error(EACCES);
  }
  return {};
}

Status OpenDataFd(int dir_fd, const char* name, int* fd, struct stat* st) {
  *fd = -1;
  *st = {};
  const int opened = openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (opened < 0) {
    const Status failed = Status::FromErrno();
    if (fstatat(dir_fd, name, st, AT_SYMLINK_NOFOLLOW) != 0) *st = {};
    return failed;
  }
  if (fstat(opened, st) != 0) return CloseAndFail(opened, Status::FromErrno());
  if (Status checked = CheckDataFile(*st); !checked.ok()) return CloseAndFail(opened, checked);
  if (Status checked = CheckAcl(opened); !checked.ok()) return CloseAndFail(opened, checked);
  *fd = opened;
  return {};
}

Status OpenDataFile(int dir_fd, const char* name, FILE** in) {
  *in = nullptr;
  int fd;
  struct stat st;
  if (Status opened = OpenDataFd(dir_fd, name, &fd, &st); !opened.ok()) return opened;
  *in = fdopen(fd, "r");  // O_NONBLOCK means nothing for a regular file
  if (*in == nullptr) return CloseAndFail(fd, Status::FromErrno());
  return {};
}
