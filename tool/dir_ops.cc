#include "tool/dir_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

DirOpHook hook = nullptr;

// What the test hook fails the call with, if it does.
Status Allowed(DirOp op, const char* name) {
  if (hook == nullptr) return {};
  if (int error = hook(op, name); error != 0) return Status::Error(error);
  return {};
}

// The Status of a call that returns 0 or -1 with errno set.
Status Checked(int result) { return result == 0 ? Status() : Status::FromErrno(); }

}  // namespace

void SetDirOpHookForTesting(DirOpHook new_hook) { hook = new_hook; }

Status CreateIn(int dir_fd, const char* name, mode_t mode, int* fd) {
  *fd = -1;
  if (Status allowed = Allowed(DirOp::kCreate, name); !allowed.ok()) return allowed;
  const int created =
      openat(dir_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (created < 0) return Status::FromErrno();
  // The umask must not narrow what the data files are meant to be.
  if (fchmod(created, mode) != 0) {
    const Status failed = Status::FromErrno();
    close(created);
    (void)RemoveIn(dir_fd, name);  // the failure to report is the fchmod's
    return failed;
  }
  *fd = created;
  return {};
}

Status SyncFile(int fd, const char* name) {
  if (Status allowed = Allowed(DirOp::kSyncFile, name); !allowed.ok()) return allowed;
  return Checked(fsync(fd));
}

Status SyncDir(int dir_fd) {
  if (Status allowed = Allowed(DirOp::kSyncDir, "."); !allowed.ok()) return allowed;
  return Checked(fsync(dir_fd));
}

Status RenameIn(int dir_fd, const char* from, const char* to) {
  if (Status allowed = Allowed(DirOp::kRename, to); !allowed.ok()) return allowed;
  return Checked(renameat(dir_fd, from, dir_fd, to));
}

Status RemoveIn(int dir_fd, const char* name) {
  if (Status allowed = Allowed(DirOp::kRemove, name); !allowed.ok()) return allowed;
  return Checked(unlinkat(dir_fd, name, 0));
}
