#include "tool/transaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "tool/dir_ops.h"
#include "lineio/write_all.h"
#include "tool/data_file.h"

namespace {

// The record: this first line, one data file name a line, and this last
// line, so that a record cut short is never taken for one.
constexpr char kRecordHead[] = "kstapefmtlpr commit\n";
constexpr char kRecordTail[] = "end\n";
// A record names each data file at most once; anything longer is not ours.
constexpr size_t kRecordMax = 4096;

enum class Record { kComplete, kIncomplete, kMalformed };

bool IsPrefixOf(std::string_view part, std::string_view whole) {
  return whole.substr(0, part.size()) == part;
}

// Reads the record |text| into the data file names it holds. A record cut
// short (by a power cut before it was flushed: the renames had not begun)
// is kIncomplete; anything that is neither a record nor the start of one,
// or names anything but the data files |known|, each once, is kMalformed.
Record ParseRecord(std::string_view text, const std::vector<std::string>& known,
                   std::vector<std::string>* names) {
  names->clear();
  if (text.size() > kRecordMax) return Record::kMalformed;
  const std::string_view head = kRecordHead;
  if (text.size() < head.size()) return IsPrefixOf(text, head) ? Record::kIncomplete : Record::kMalformed;
  if (!IsPrefixOf(head, text)) return Record::kMalformed;
  const std::string_view tail(kRecordTail, strlen(kRecordTail) - 1);  // without its newline
  for (size_t pos = head.size(); pos < text.size();) {
    const size_t eol = text.find('\n', pos);
    const std::string_view line = text.substr(pos, eol == std::string_view::npos ? std::string_view::npos : eol - pos);
    if (eol == std::string_view::npos) {  // cut inside a line
      const bool prefix = IsPrefixOf(line, tail) ||
                          std::any_of(known.begin(), known.end(),
                                      [&](const std::string& name) { return IsPrefixOf(line, name); });
      return prefix ? Record::kIncomplete : Record::kMalformed;
    }
    if (line == tail) return eol + 1 == text.size() ? Record::kComplete : Record::kMalformed;
    if (std::find(known.begin(), known.end(), line) == known.end() ||
        std::find(names->begin(), names->end(), line) != names->end()) {
      return Record::kMalformed;
    }
    names->emplace_back(line);
    pos = eol + 1;
  }
  return Record::kIncomplete;
}

// The record as it stands now. A reader keeps its descriptor open, so that
// the file cannot be replaced by another of the same inode number.
struct RecordView {
  bool present = false;
  bool complete = false;
  std::vector<std::string> names;  // if complete
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;

  RecordView() = default;
  RecordView(const RecordView&) = delete;
  RecordView& operator=(const RecordView&) = delete;
  ~RecordView() {
    if (fd >= 0) close(fd);
  }
};

// Reads the record of |dir_fd| into *view. Anything at its name that is not
// a readable plain file is there, but not complete.
void LookAtRecord(int dir_fd, const std::vector<std::string>& known, RecordView* view) {
  struct stat st;
  const int fd = openat(dir_fd, kCommitRecordName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (fstatat(dir_fd, kCommitRecordName, &st, AT_SYMLINK_NOFOLLOW) != 0) return;  // none
    view->present = true;
    view->dev = st.st_dev;
    view->ino = st.st_ino;
    return;
  }
  view->fd = fd;
  view->present = true;
  if (fstat(fd, &st) != 0) return;
  view->dev = st.st_dev;
  view->ino = st.st_ino;
  if (!S_ISREG(st.st_mode)) return;
  std::string text(kRecordMax + 1, '\0');
  const ssize_t n = pread(fd, text.data(), text.size(), 0);
  if (n < 0) return;
  text.resize(static_cast<size_t>(n));
  view->complete = ParseRecord(text, known, &view->names) == Record::kComplete;
}

TempByteLimitFn temp_byte_limit = nullptr;

// Creates the copy afresh: a stale one from an interrupted run is removed
// first (if something else stands there and cannot be removed, the
// exclusive create reports it). The data files are shared by every user of
// the printer: 0666 whatever the umask.
Status CreateCopy(int dir_fd, const std::string& copy_name, FILE** out) {
  *out = nullptr;
  struct stat st;
  if (fstatat(dir_fd, copy_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    (void)RemoveIn(dir_fd, copy_name.c_str());  // if it stays, the create says so
  }
  int fd;
  if (Status created = CreateIn(dir_fd, copy_name.c_str(), 0666, &fd); !created.ok()) {
    return created;
  }
  *out = fdopen(fd, "w");
  if (*out == nullptr) {
    const Status failed = Status::FromErrno();
    close(fd);
    (void)RemoveIn(dir_fd, copy_name.c_str());
    return failed;
  }
  return {};
}

// Flushes the copy to disk and closes it; the first failure wins.
Status FinishCopy(FILE* out, const std::string& name) {
  Status status;
  if (fflush(out) != 0 || ferror(out)) status = Status::FromErrno();
  if (status.ok()) status = SyncFile(fileno(out), name.c_str());
  if (fclose(out) != 0 && status.ok()) status = Status::FromErrno();
  return status;
}

}  // namespace

void SetTempByteLimitForTesting(TempByteLimitFn limit) { temp_byte_limit = limit; }

Status StageRewrite(int dir_fd, const char* name, const std::vector<LineEdit>& edits,
                    const std::string& append, size_t* edited) {
  FILE* in;
  if (Status opened = OpenDataFile(dir_fd, name, &in); !opened.ok()) return opened;

  const std::string copy_name = std::string(name) + kTempSuffix;
  FILE* out;
  if (Status created = CreateCopy(dir_fd, copy_name, &out); !created.ok()) {
    fclose(in);
    return created.WithPath(copy_name);
  }
  const int error = CopyEdited(in, out, edits, append,
                               temp_byte_limit != nullptr ? temp_byte_limit(name) : SIZE_MAX,
                               edited);
  Status status = error != 0 ? Status::Error(error) : Status();
  if (Status finished = FinishCopy(out, copy_name); status.ok()) status = finished;
  fclose(in);  // read-only: nothing to lose
  if (!status.ok()) (void)RemoveIn(dir_fd, copy_name.c_str());
  return status;
}

Status CommitStaged(int dir_fd, const std::vector<std::string>& names) {
  if (names.empty()) return {};
  std::string record = kRecordHead;
  for (const std::string& name : names) record += name + "\n";
  record += kRecordTail;

  // Up to the commit point, a failure leaves every data file as it was.
  // The record is written in one piece: a reader sees it whole or not.
  // A failure names the record, or (no path) the directory itself.
  int fd;
  Status status = CreateIn(dir_fd, kCommitRecordName, 0644, &fd);
  if (status.ok()) {
    if (WriteAllFd(fd, record.data(), record.size()) != 0) status = Status::FromErrno();
    if (status.ok()) status = SyncFile(fd, kCommitRecordName);
    if (close(fd) != 0 && status.ok()) status = Status::FromErrno();
    if (!status.ok()) status = status.WithPath(kCommitRecordName);
    if (status.ok()) status = SyncDir(dir_fd);
    if (!status.ok()) (void)RemoveIn(dir_fd, kCommitRecordName);
  } else {
    status = status.WithPath(kCommitRecordName);
  }
  if (!status.ok()) {
    RemoveStaged(dir_fd, names);
    return status;
  }

  // Committed: from here on the change stands, and what an interruption
  // leaves undone the next writer does.
  for (const std::string& name : names) {
    const std::string copy = name + kTempSuffix;
    if (status = RenameIn(dir_fd, copy.c_str(), name.c_str()); !status.ok()) {
      return status.WithPath(copy);
    }
  }
  if (status = SyncDir(dir_fd); !status.ok()) return status;  // the directory itself
  // Only now may the record go: until the renames are on disk, it is what
  // completes them after a power cut. A record left behind is harmless.
  (void)RemoveIn(dir_fd, kCommitRecordName);
  return {};
}

void RemoveStaged(int dir_fd, const std::vector<std::string>& names) {
  for (const std::string& name : names) (void)RemoveIn(dir_fd, (name + kTempSuffix).c_str());
}

Status RecoverStaged(int dir_fd, const std::vector<std::string>& data_files, bool* discarded) {
  if (discarded != nullptr) *discarded = false;
  RecordView record;
  LookAtRecord(dir_fd, data_files, &record);
  if (record.present) {
    // A complete record: the change was committed, and every copy that is
    // still there goes over its data file (one that is gone was renamed
    // before the interruption). Anything else: it was not, and the record
    // goes with the copies.
    for (const std::string& file : record.complete ? record.names : std::vector<std::string>{}) {
      const std::string copy = file + kTempSuffix;
      // A copy is checked as a data file is before it becomes one.
      FILE* staged;
      if (Status opened = OpenDataFile(dir_fd, copy.c_str(), &staged); !opened.ok()) {
        if (opened.error() == ENOENT) continue;
        return Status::Error(opened.error(), copy);
      }
      fclose(staged);
      if (Status renamed = RenameIn(dir_fd, copy.c_str(), file.c_str()); !renamed.ok()) {
        return Status::Error(renamed.error(), copy);
      }
    }
    if (!record.names.empty()) {
      if (Status synced = SyncDir(dir_fd); !synced.ok()) return Status::Error(synced.error());  // the directory itself
    }
    if (Status removed = RemoveIn(dir_fd, kCommitRecordName); !removed.ok()) {
      return Status::Error(removed.error(), kCommitRecordName);
    }
    if (!record.complete && discarded != nullptr) *discarded = true;
  }
  RemoveStaleCopies(dir_fd, data_files);
  return {};
}

void RemoveStaleCopies(int dir_fd, const std::vector<std::string>& data_files) {
  // One that cannot be removed (a reader may not write the directory) is
  // harmless, and makes the next copy of its file fail.
  for (const std::string& file : data_files) {
    const std::string copy = file + kTempSuffix;
    struct stat st;
    if (fstatat(dir_fd, copy.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      (void)RemoveIn(dir_fd, copy.c_str());
    }
  }
}

namespace {

SnapshotHook snapshot_hook = nullptr;

// What stands at a name: the file's device and inode, or zeros for none.
struct Identity {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const Identity&) const = default;
};

Identity IdentityOf(const struct stat& st) { return {st.st_dev, st.st_ino}; }

Identity IdentityAt(int dir_fd, const std::string& name) {
  struct stat st;
  if (fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
  return IdentityOf(st);
}

bool SameRecord(const RecordView& a, const RecordView& b) {
  return a.present == b.present && a.complete == b.complete && a.dev == b.dev && a.ino == b.ino &&
         a.names == b.names;
}

void CloseAll(std::vector<CommittedFile>* files) {
  for (CommittedFile& file : *files) {
    if (file.fd >= 0) close(file.fd);
    file.fd = -1;
  }
}

}  // namespace

void SetSnapshotHookForTesting(SnapshotHook hook) { snapshot_hook = hook; }

Status OpenCommitted(int dir_fd, const std::vector<std::string>& data_files,
                     std::vector<CommittedFile>* files) {
  files->assign(data_files.size(), CommittedFile{});
  std::vector<Identity> opened(data_files.size());
  for (int attempt = 0; attempt < kSnapshotTries; ++attempt) {
    if (attempt > 0) {
      // A writer renames its few copies within milliseconds: wait a little
      // longer each time, never long.
      const timespec pause{0, std::min(attempt, 20) * 500 * 1000L};
      nanosleep(&pause, nullptr);
    }
    RecordView before;
    LookAtRecord(dir_fd, data_files, &before);
    if (snapshot_hook != nullptr) snapshot_hook(attempt, 0);
    for (size_t i = 0; i < data_files.size(); ++i) {
      CommittedFile& file = (*files)[i];
      struct stat st;
      const bool staged = before.complete && std::find(before.names.begin(), before.names.end(),
                                                       data_files[i]) != before.names.end();
      file.status = Status::Error(ENOENT);
      if (staged) {
        file.status = OpenDataFd(dir_fd, (data_files[i] + kTempSuffix).c_str(), &file.fd, &st);
        if (!file.status.ok() && file.status.error() != ENOENT) {
          file.status = Status::Error(file.status.error(), data_files[i] + kTempSuffix);
        }
      }
      if (file.status.error() == ENOENT) {
        file.status = OpenDataFd(dir_fd, data_files[i].c_str(), &file.fd, &st);
      }
      opened[i] = IdentityOf(st);
      if (snapshot_hook != nullptr) snapshot_hook(attempt, i + 1);
    }
    RecordView after;
    LookAtRecord(dir_fd, data_files, &after);
    bool stable = SameRecord(before, after);
    if (stable && !before.complete) {
      for (size_t i = 0; i < data_files.size() && stable; ++i) {
        stable = IdentityAt(dir_fd, data_files[i]) == opened[i];
      }
    }
    if (stable) return {};
    CloseAll(files);
  }
  return Status::Error(EAGAIN);
}
