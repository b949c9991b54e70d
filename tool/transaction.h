#ifndef TOOL_TRANSACTION_H_
#define TOOL_TRANSACTION_H_

// A change to a data set, all or nothing, in the data directory itself.
//
// Writing, with the model lock held:
//
//   1. Stage: each data file's new content is written to a copy beside it,
//      "<name>.$$$", created exclusively (a stale one is removed first),
//      never through a symbolic link, with permission bits 0666, and
//      flushed. A copy that cannot be written whole is removed.
//   2. Commit: a record, "commit.$$$", naming the data files whose copies
//      are staged ("kstapefmtlpr commit", a name a line, "end"), is written
//      in one piece and flushed, then the directory is flushed: the commit
//      point.
//   3. Each copy is renamed over its data file; the directory is flushed;
//      only then is the record removed.
//
// Recovery, by a writer, with the lock held, before anything else: a
// complete record means the change was committed, so each copy still there
// is renamed over its file and the record removed. A record that is not
// complete (cut short or trashed by a power cut before its flush, or
// anything else standing at its name) cannot have been completed: it is
// removed with the copies, and the writer says so in one line. Copies
// without a record are discarded. So after a failure, a kill or a power
// cut at any moment the files are all as before the change or all as
// after it. Every create, flush, rename and removal goes through
// tool/dir_ops.h, so that the fault tests see each.
//
// Reading, without the lock and without changing anything, beside a writer
// at any step or the debris of one that died: the committed state is, for
// a data file that a complete record names, its copy while the copy is
// there (else the file, which the copy has become); for any other file, the
// file. Staged copies without a complete record are never looked at. A
// reader opens that state, one descriptor a file, then checks that it
// held while it opened (SQLite's readers check their snapshot the same way
// after taking it):
//
//   - the record it went by still stands, the same file, and still
//     complete: while a record stands, only its own renames happen, which
//     leave the committed state as it was; or
//   - no complete record stood before or after, and each name still holds
//     the file that was opened: an open file's inode cannot be reused, and
//     a name only ever gets a fresh one, so each name held the file opened
//     all along, at the moment between the opens and the checks when no
//     change was under way.
//
// Otherwise it closes them and tries again, a bounded number of times.
// The descriptors, once taken, are the snapshot: writers replace files,
// never change them, so every later read sees the same state.

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
// what opening a copy gives for one that is not a data file; what renaming
// a copy or removing the record gives. *discarded: a record that was not
// complete was removed.
Status RecoverStaged(int dir_fd, const std::vector<std::string>& data_files,
                     bool* discarded = nullptr);

// Removes the copies of |data_files| that stand in |dir_fd|: with no record,
// they belong to a change that never took effect.
void RemoveStaleCopies(int dir_fd, const std::vector<std::string>& data_files);

// One data file of a reader's snapshot: its descriptor, or -1 with why
// (ENOENT: there is none).
struct CommittedFile {
  int fd = -1;
  Status status;
};

// How often a reader takes its snapshot before it gives up (EAGAIN): only a
// run of changes one after the other, each within the reader's few opens,
// can make it try again.
inline constexpr int kSnapshotTries = 200;

// Opens the committed state of |data_files| in |dir_fd| as above, without a
// lock, into *files (one for each, in order; the caller closes them). Each
// file is opened as OpenDataFile opens it, its failure kept in its entry.
// Fails only if no stable snapshot could be taken (EAGAIN).
Status OpenCommitted(int dir_fd, const std::vector<std::string>& data_files,
                     std::vector<CommittedFile>* files);

// Test seam: called after a reader has looked at the record (|opened| 0)
// and after each of its opens (|opened| files so far), each try; after the
// last one come its checks.
using SnapshotHook = void (*)(int attempt, size_t opened);
void SetSnapshotHookForTesting(SnapshotHook hook);

// Test seam for write faults. When set, it is asked at the start of each
// rewrite how many bytes the copy of data file |name| may take; writes
// beyond that fail with ENOSPC, as on a full disk. Null (the default) means
// no limit.
using TempByteLimitFn = size_t (*)(const char* name);
void SetTempByteLimitForTesting(TempByteLimitFn limit);

#endif  // TOOL_TRANSACTION_H_
