#ifndef TOOL_TRANSACTION_H_
#define TOOL_TRANSACTION_H_

// The copies a change to a data set is staged in: each data file's new
// content is written to "<name>.$$$" beside it and flushed, and only a
// commit (DataSet::Commit: the record, the renames) makes it take effect.
// A copy is created exclusively (a stale one is removed first), never
// through a symbolic link, with permission bits 0666; a copy that could not
// be written whole is removed. Every create, flush and removal goes through
// lineio/dir_ops.h, so that the fault tests see each.

#include <cstddef>
#include <string>
#include <vector>

#include "lineio/rewrite.h"

// Suffix of the copy written beside a data file.
inline constexpr const char kTempSuffix[] = ".$$$";

// The first half of a rewrite in place: writes the data file |name| of the
// directory |dir_fd|, its lines changed by |edits| (see CopyEdited) and
// followed by |append|, to a new copy "<name>.$$$" beside it, and flushes
// the copy to disk. The data file is not touched; renaming the copy over
// it is the commit. The data file is opened as OpenDataFile opens it.
// Returns 0, or -1 with errno set and no copy left behind; a line longer
// than kLineMax fails with EFBIG.
int StageRewrite(int dir_fd, const char* name, const std::vector<LineEdit>& edits,
                 const std::string& append, size_t* edited = nullptr);
inline int StageRewrite(int dir_fd, const char* name, const LineEdit& edit,
                        const std::string& append, size_t* edited = nullptr) {
  return StageRewrite(dir_fd, name, std::vector<LineEdit>{edit}, append, edited);
}

// Test seam for write faults. When set, it is asked at the start of each
// rewrite how many bytes the copy of data file |name| may take; writes
// beyond that fail with ENOSPC, as on a full disk. Null (the default) means
// no limit.
using TempByteLimitFn = size_t (*)(const char* name);
void SetTempByteLimitForTesting(TempByteLimitFn limit);

#endif  // TOOL_TRANSACTION_H_
