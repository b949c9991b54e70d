#include "tool/dir_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

DirOpHook hook = nullptr;

// False, with errno set, if the test hook fails the call.
bool Allowed(DirOp op, const char* name) {
  if (hook == nullptr) return true;
  if (int error = hook(op, name); error != 0) {
    errno = error;
    return false;
  }
  return true;
}

}  // namespace

void SetDirOpHookForTesting(DirOpHook new_hook) { hook = new_hook; }

int CreateIn(int dir_fd, const char* name, mode_t mode) {
  if (!Allowed(DirOp::kCreate, name)) return -1;
  int fd = openat(dir_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  // The umask must not narrow what the data files are meant to be.
  if (fchmod(fd, mode) != 0) {
    int saved = errno;
    close(fd);
    RemoveIn(dir_fd, name);
    errno = saved;
    return -1;
  }
  return fd;
}

int SyncFile(int fd, const char* name) {
  if (!Allowed(DirOp::kSyncFile, name)) return -1;
  return fsync(fd);
}

int SyncDir(int dir_fd) {
  if (!Allowed(DirOp::kSyncDir, ".")) return -1;
  return fsync(dir_fd);
}

int RenameIn(int dir_fd, const char* from, const char* to) {
  if (!Allowed(DirOp::kRename, to)) return -1;
  return renameat(dir_fd, from, dir_fd, to);
}

int RemoveIn(int dir_fd, const char* name) {
  if (!Allowed(DirOp::kRemove, name)) return -1;
  return unlinkat(dir_fd, name, 0);
}
