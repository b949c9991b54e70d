#ifndef TOOL_DATA_FILE_H_
#define TOOL_DATA_FILE_H_

#include <sys/stat.h>

#include <cstdio>

#include "tool/status.h"

// Opens the data file |name| of the directory |dir_fd| for reading, into
// *in (null on a failure).
//
// The directory may be writable by every user of the printer while the tool
// runs as root, so what stands at the name is not trusted: only a regular
// file that others may read is read (as root: that everyone may read, its
// owner, its group and others, with no ACL entry that denies anyone). A
// symbolic link fails with ELOOP ("Too many levels of symbolic links"), a
// file without those read permissions with EACCES ("Permission denied"), a
// directory with EISDIR ("Is a directory"), and a FIFO, device or socket
// with EPERM ("Operation not permitted"; a socket cannot be opened at all
// and fails with ENXIO). The open never waits, so a FIFO cannot hang the
// run.
Status OpenDataFile(int dir_fd, const char* name, FILE** in);

// The same, as a descriptor: *fd, or -1 on a failure. *st is what stands
// at the name: the file opened, or, where the open failed for what it is
// (a symbolic link, a FIFO), that itself as lstat sees it; st_ino 0 where
// nothing stands there.
Status OpenDataFd(int dir_fd, const char* name, int* fd, struct stat* st);

// The same rules for a file already looked at with fstat or lstat: what it
// is refused with, if it is.
Status CheckDataFile(const struct stat& st);
// The ACL part of those rules, for the open file |fd|: EACCES if refused.
Status CheckAcl(int fd);

#endif  // TOOL_DATA_FILE_H_
