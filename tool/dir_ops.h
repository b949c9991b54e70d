#ifndef TOOL_DIR_OPS_H_
#define TOOL_DIR_OPS_H_

#include <sys/types.h>

#include "tool/status.h"

// The calls that create, flush, rename and remove files in a data
// directory. Every change to a data set goes through them, so that a test
// can see them in order, fail any one of them, or stop the process at any of
// them as a crash or power cut would.
enum class DirOp { kCreate, kSyncFile, kSyncDir, kRename, kRemove };

// Each returns its Status: the errno of the call that failed, no path (a
// data file's message is the error's text alone).

// Creates |name| in |dir_fd| exclusively, never through a symbolic link,
// with permission bits |mode| whatever the umask; *fd is its descriptor.
Status CreateIn(int dir_fd, const char* name, mode_t mode, int* fd);
// fsync of |fd|, the file |name|.
Status SyncFile(int fd, const char* name);
// fsync of the directory itself: what was created, renamed or removed in it
// is on disk.
Status SyncDir(int dir_fd);
// renameat within |dir_fd|: |to| is replaced at once.
Status RenameIn(int dir_fd, const char* from, const char* to);
// unlinkat of a file (not a directory) in |dir_fd|.
Status RemoveIn(int dir_fd, const char* name);

// Test seam. When set, the hook is called before each of the calls above
// with the call and the name it acts on ("." for the directory); a non-zero
// return is an errno: the call then fails with it without being made.
using DirOpHook = int (*)(DirOp op, const char* name);
void SetDirOpHookForTesting(DirOpHook hook);

#endif  // TOOL_DIR_OPS_H_
