#ifndef TOOL_DATA_SET_H_
#define TOOL_DATA_SET_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tool/transaction.h"
#include "tool/format_request.h"
#include "tool/layout.h"
#include "tool/status.h"

// A model's driver data set: the data files under "<root><model>/inf/",
// which change together or not at all.

// What the lines that name a format look like in a data file.
enum class EntryLines {
  kNamed,     // "<id>/<name>...": a format is looked up by name; dropped on delete
  kIdOnly,    // "<id>...": dropped on delete
  kSettings,  // "<key>=<id>": reset to the default medium on delete
};

// The data files, one row each, in the order they are handled.
struct DataFileRow {
  DataFile file;
  EntryLines lines;
  bool required;  // a change fails without it; otherwise a missing file holds nothing
};

inline constexpr DataFileRow kDataFiles[] = {
    {DataFile::kFuncList, EntryLines::kNamed, true},
    {DataFile::kPaperInfo, EntryLines::kNamed, true},
    {DataFile::kRc, EntryLines::kSettings, false},
    {DataFile::kImagingArea, EntryLines::kIdOnly, true},
};

const DataFileRow& RowOf(DataFile file);

// The spooler-side tool's path (see layout.h) for |request|'s model under
// |root|, in the request's path scratch: ENAMETOOLONG if it does not fit.
Status BuildSpoolerToolPath(FormatRequest* request, const std::string& root);

// How long a writer waits for the model lock before it gives up.
inline constexpr int kLockWaitSeconds = 10;

// One model's data set for one run. It owns the data directory, opened
// once and used for every file, and, as transaction.h says:
//   - for a change, the model lock (an advisory flock on that directory:
//     changes one at a time) and the change being made, staged and
//     committed; Open, with the lock held, first completes a change whose
//     record is complete and discards what one that never took effect left;
//   - for reading, a snapshot of the committed state of the four files,
//     taken without the lock and without changing anything, so that no
//     writer, lock holder or crash can make a reader wait or fail.
class DataSet {
 public:
  enum class Access { kRead, kChange };

  // |root| ends with '/'. Nothing is opened yet.
  DataSet(const std::string& root, const char* model);
  // Discards a staged change that was not committed.
  ~DataSet();
  DataSet(const DataSet&) = delete;
  DataSet& operator=(const DataSet&) = delete;

  // Opens the data directory and, for a change, takes the model lock,
  // waiting at most |wait_seconds| (anyone who can open the directory can
  // hold it: EWOULDBLOCK, with no path, once the wait is over), and
  // recovers what an interrupted run left; for reading, takes the
  // snapshot. Run as root, it first walks from / down to the data
  // directory without following any symbolic link (ELOOP, naming the
  // link), and checks that every directory down to the install root (where
  // sticky ones, like /tmp, pass), the install root itself, the model's
  // directory, its lpd/ directory and (for a change, which runs it) the
  // spooler-side tool, a plain file, belong to root and that no one else
  // may write them (EPERM). A failure names its path. A data directory
  // that does not exist is no failure here: every data file then fails to
  // open, naming the directory.
  Status Open(Access access, int wait_seconds = kLockWaitSeconds);

  // Opens data file |file| for reading as OpenDataFile does, into *in: for
  // reading, from the snapshot, at its start, each time. ENOENT for a file
  // that does not exist. A failure names the file.
  Status OpenForReading(DataFile file, FILE** in) const;

  // For reading: ENOENT, naming it, for the first required data file that
  // is not there, or the data directory itself; ok if all are.
  Status RequiredFiles() const;

  // The bytes |file| holds as far as its size and blocks on disk tell
  // (nothing is read); 0 where it cannot be told.
  uint64_t FileBytes(DataFile file) const;

  // Opens the staged copy of |file| for reading, as OpenForReading opens
  // the file itself.
  Status OpenStagedCopy(DataFile file, FILE** in) const;

  // Stages the rewrite of |file| (see StageRewrite) as part of the change.
  // A file that is not required and does not exist is left out. On a
  // failure the change is discarded as a whole; the failure names the file.
  Status RewriteInPlace(DataFile file, const std::vector<LineEdit>& edits,
                     const std::string& append, size_t* edited = nullptr);

  // Makes every staged rewrite take effect at once. A failure before the
  // commit point discards the change and leaves every file as it was; after
  // it (a rename or the final flush failing) the change stands and the next
  // writer completes it.
  Status Commit();

  // Removes the staged copies.
  void Abandon();

  // What Open had to say besides (a damaged record discarded), one line each.
  const std::vector<std::string>& warnings() const { return warnings_; }

  // The full path of a data file, for messages.
  std::string PathOf(DataFile file) const;

  const std::string& root() const { return root_; }
  const std::string& model() const { return model_; }

 private:
  Status Recover();
  std::vector<std::string> DataFileNames() const;
  Status Lock(int operation, double deadline);
  std::string InfPath(const std::string& name) const;
  // |status| naming the data file |name| (or, if it names one already, that
  // one, in the data directory) where it names no path.
  Status Named(Status status, const std::string& name) const;

  std::string root_;
  std::string model_;
  int fd_ = -1;
  int error_ = 0;                    // why the directory did not open
  bool snapshot_ = false;            // opened for reading
  std::vector<CommittedFile> files_; // the snapshot, in kDataFiles order
  std::vector<std::string> staged_;  // data files whose copies are written
  std::vector<std::string> warnings_;
};

#endif  // TOOL_DATA_SET_H_
