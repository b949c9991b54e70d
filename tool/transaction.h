#ifndef TOOL_TRANSACTION_H_
#define TOOL_TRANSACTION_H_

// A change to a data set, all or nothing, in the data directory itself:
//
//   1. Stage: each data file's new content is written to a copy beside it,
//      "<name>.$$$", created exclusively (a stale one is removed first),
//      never through a symbolic link, with permission bits 0666, and
//      flushed. A copy that cannot be written whole is removed.
//   2. Commit: a record, "commit.$$$", naming the data files whose copies
//      are staged ("kstapefmtlpr commit", a name a line, "end"), is written
//      and flushed, then the directory is flushed: the commit point.
//   3. Each copy is renamed over its data file; the directory is flushed;
//      only then is the record removed.
//
// Recovery, run with the model lock held before anything else: a complete
// record means the change was committed, so each copy still there is
// renamed over its file and the record removed; a record cut short means
// it was not, and it goes with the copies. Copies without a record are
// discarded. So after a failure, a kill or a power cut at any moment the
// files are all as before the change or all as after it. Every create,
// flush, rename and removal goes through tool/dir_ops.h, so that the
// fault tests see each.

#include <cstddef>
#include <string>
#include <vector>

#include "lineio/rewrite.h"
#include "tool/status.h"

// Suffix of the copy written beside a data file.
inline constexpr const char kTempSuffix[] = ".$$$";

// The record that makes a staged change take effect.
inline constexpr const char kCommitRecordName[] = "commit.$$$";

// The first half of a rewrite in place: writes the data file |name| of the
// directory |dir_fd|, its lines changed by |edits| (see CopyEdited) and
// followed by |append|, to a new copy "<name>.$$$" beside it, and flushes
// the copy to disk. The data file is not touched; renaming the copy over
// it is the commit. The data file is opened as OpenDataFile opens it.
// A failure leaves no copy behind; a line longer than kLineMax fails with
// EFBIG.
Status StageRewrite(int dir_fd, const char* name, const std::vector<LineEdit>& edits,
                    const std::string& append, size_t* edited = nullptr);
inline Status StageRewrite(int dir_fd, const char* name, const LineEdit& edit,
                           const std::string& append, size_t* edited = nullptr) {
  return StageRewrite(dir_fd, name, std::vector<LineEdit>{edit}, append, edited);
}

// Steps 2 and 3 for the staged copies of the data files |names| in
// |dir_fd|. A failure before the commit point removes the copies and
// leaves every file as it was; after it (a rename or the last flush
// failing) the change stands and recovery completes it.
Status CommitStaged(int dir_fd, const std::vector<std::string>& names);

// Removes the staged copies of |names|.
void RemoveStaged(int dir_fd, const std::vector<std::string>& names);

// Recovery in |dir_fd|, whose data files are |data_files|. A failure's
// path is the name in |dir_fd| it concerns (empty: the directory itself):
// EBADMSG for a record that is not one; what opening a copy gives for one
// that is not a data file.
Status RecoverStaged(int dir_fd, const std::vector<std::string>& data_files);

// Removes the copies of |data_files| that stand in |dir_fd|: with no record,
// they belong to a change that never took effect.
void RemoveStaleCopies(int dir_fd, const std::vector<std::string>& data_files);

// Test seam for write faults. When set, it is asked at the start of each
// rewrite how many bytes the copy of data file |name| may take; writes
// beyond that fail with ENOSPC, as on a full disk. Null (the default) means
// no limit.
using TempByteLimitFn = size_t (*)(const char* name);
void SetTempByteLimitForTesting(TempByteLimitFn limit);

#endif  // TOOL_TRANSACTION_H_
