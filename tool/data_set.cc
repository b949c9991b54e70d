#include "tool/data_set.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "tool/data_file.h"
#include "lineio/dir_ops.h"
#include "lineio/write_all.h"

namespace {

// The record: this first line, one data file name a line, and this last
// line, so that a record cut short is never taken for one.
constexpr char kRecordHead[] = "kstapefmtlpr commit\n";
constexpr char kRecordTail[] = "end\n";
// A record names each data file at most once; anything longer is not ours.
constexpr size_t kRecordMax = 4096;

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Returns |error|, with *message the line to report: |path| and |why|, or
// the error's text.
int Fail(std::string* message, const std::string& path, int error, const char* why = nullptr) {
  if (message != nullptr) *message = path + ": " + (why != nullptr ? why : strerror(error));
  return error;
}

enum class Record { kComplete, kIncomplete, kMalformed };

bool IsPrefixOf(std::string_view part, std::string_view whole) {
  return whole.substr(0, part.size()) == part;
}

// Reads the record |in| into the data file names it holds. A record cut
// short (by a power cut before it was flushed: the renames had not begun)
// is kIncomplete; anything that is neither a record nor the start of one,
// or names anything but data files of |model|, each once, is kMalformed.
Record ReadRecord(FILE* in, const std::string& model, std::vector<std::string>* names) {
  std::string text(kRecordMax + 1, '\0');
  text.resize(fread(text.data(), 1, text.size(), in));
  if (ferror(in) || text.size() > kRecordMax) return Record::kMalformed;
  const std::string_view head = kRecordHead;
  if (text.size() < head.size()) return IsPrefixOf(text, head) ? Record::kIncomplete : Record::kMalformed;
  if (!IsPrefixOf(head, text)) return Record::kMalformed;
  std::vector<std::string> known;
  for (const DataFileRow& row : kDataFiles) known.push_back(DataFileName(model, row.file));
  const std::string tail(kRecordTail, strlen(kRecordTail) - 1);  // without its newline
  for (size_t pos = head.size(); pos < text.size();) {
    const size_t eol = text.find('\n', pos);
    const std::string line = text.substr(pos, eol - pos);
    if (eol == std::string::npos) {  // cut inside a line
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
    names->push_back(line);
    pos = eol + 1;
  }
  return Record::kIncomplete;
}

}  // namespace

const DataFileRow& RowOf(DataFile file) {
  for (const DataFileRow& row : kDataFiles) {
    if (row.file == file) return row;
  }
  return kDataFiles[0];  // every DataFile has a row
}

bool BuildSpoolerToolPath(FormatRequest* request, const std::string& root) {
  const std::string path = SpoolerToolPath(root, request->model);
  if (path.size() >= sizeof(request->path)) {
    errno = ENAMETOOLONG;
    return false;
  }
  memcpy(request->path, path.c_str(), path.size() + 1);
  return true;
}

DataSet::DataSet(const std::string& root, const char* model) : root_(root), model_(model) {}

DataSet::~DataSet() {
  int saved = errno;  // the caller may still have to report an error
  Abandon();
  if (fd_ >= 0) close(fd_);
  errno = saved;
}

std::string DataSet::InfPath(const std::string& name) const {
  return DataDirPath(root_, model_) + "/" + name;
}

int DataSet::Lock(int operation, double deadline) {
  // Polled rather than blocking: a blocking flock can be made to wait
  // forever by whoever holds the lock.
  while (flock(fd_, operation | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return errno;
    if (Now() >= deadline) return EWOULDBLOCK;
    const timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return 0;
}

namespace {

// Opens directory |name| of |dir_fd| (or |path| itself if |dir_fd| is -1),
// never through a symbolic link but for the install root's own path.
int OpenDir(int dir_fd, const std::string& path, const char* name) {
  return dir_fd < 0 && name == nullptr
             ? open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
             : openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Root runs the spooler-side tool found here: anyone else who could change
// it, or a directory on the way to it, could run a program as root.
bool RootsAlone(const struct stat& st) {
  return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

constexpr char kNotRootsAlone[] = "must belong to root and be writable by root alone";

// A directory on the way to the install root: as RootsAlone, or sticky, like
// /tmp, where no one else may move or remove what root owns.
bool RootsAloneOrSticky(const struct stat& st) {
  return st.st_uid == 0 && ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX));
}

// Opens the install root |root| for root, checking every directory from /
// down to it, each opened from the one before and never through a link, so
// that no one but root can swap any of them while the run waits for the
// lock. The path's own links are resolved first: what they lead to is
// checked. Returns the descriptor, or -1 with *error and *message set.
int OpenTrustedRoot(const std::string& root, int* error, std::string* message) {
  char* resolved = realpath(root.c_str(), nullptr);
  if (resolved == nullptr) {
    *error = Fail(message, root, errno);
    return -1;
  }
  const std::string path = resolved;
  free(resolved);
  int fd = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::string walked = "/";
  for (size_t pos = 1;; ) {
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
      *error = Fail(message, walked, errno);
      if (fd >= 0) close(fd);
      return -1;
    }
    const bool last = pos >= path.size();
    if (!(last ? RootsAlone(st) : RootsAloneOrSticky(st))) {
      close(fd);
      *error = Fail(message, walked, EPERM, kNotRootsAlone);
      return -1;
    }
    if (last) return fd;
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(pos, end - pos);
    walked = path.substr(0, end);
    const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int saved = errno;
    close(fd);
    errno = saved;
    fd = next;
    pos = end + 1;
  }
}

}  // namespace

int DataSet::Open(Access access, std::string* message, int wait_seconds) {
  const std::string model_path = ModelPath(root_, model_);
  const bool as_root = geteuid() == 0;
  int root_error = 0;
  Descriptor root(as_root ? OpenTrustedRoot(root_, &root_error, message)
                          : OpenDir(-1, root_, nullptr));
  if (as_root && root.get() < 0) return root_error;
  Descriptor model(root.get() < 0 ? -1 : OpenDir(root.get(), "", model_.c_str()));
  if (as_root) {
    const std::string lpd_path = LpdPath(root_, model_);
    const std::string tool_path = SpoolerToolPath(root_, model_);
    Descriptor lpd(model.get() < 0 ? -1 : OpenDir(model.get(), "", kLpdDirName));
    struct stat st;
    for (const auto& [fd, path] : {std::pair{model.get(), model_path},
                                    std::pair{lpd.get(), lpd_path}}) {
      if (fd < 0) return Fail(message, path, errno);
      if (fstat(fd, &st) != 0) return Fail(message, path, errno);
      if (!RootsAlone(st)) return Fail(message, path, EPERM, kNotRootsAlone);
    }
    // A listing runs no spooler-side tool.
    if (access == Access::kChange) {
      if (fstatat(lpd.get(), kSpoolerToolName, &st, 0) != 0) return Fail(message, tool_path, errno);
      if (!RootsAlone(st)) return Fail(message, tool_path, EPERM, kNotRootsAlone);
    }
  }
  fd_ = model.get() < 0 ? -1 : OpenDir(model.get(), "", kDataDirName);
  if (fd_ < 0) {
    error_ = errno;
    // A link in place of the data directory would take the files elsewhere
    // (opened with O_DIRECTORY, a link reads as "not a directory").
    struct stat st;
    if (error_ == ENOTDIR && fstatat(model.get(), kDataDirName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      error_ = ELOOP;
    }
    if (error_ == ELOOP || error_ == ENOTDIR) {
      return Fail(message, DataDirPath(root_, model_), error_);
    }
    return 0;
  }
  const double deadline = Now() + wait_seconds;
  if (access == Access::kChange) {
    if (int error = Lock(LOCK_EX, deadline); error != 0) return error;
    return Recover(message);
  }
  // A reader recovers only when there is something to recover, and that
  // takes the lock exclusive; it then reads under that lock. Otherwise it
  // reads under a shared lock. The wait is bounded as a whole.
  if (int error = Lock(LOCK_SH, deadline); error != 0) return error;
  struct stat st;
  if (fstatat(fd_, kCommitRecordName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return Fail(message, InfPath(kCommitRecordName), errno);
    // No change is under way while the lock is held shared: any copy is
    // left over from one that never took effect.
    DiscardCopies();
    return 0;
  }
  if (int error = Lock(LOCK_EX, deadline); error != 0) return error;
  return Recover(message);
}

int DataSet::Recover(std::string* message) {
  const std::string record_path = InfPath(kCommitRecordName);
  struct stat st;
  if (fstatat(fd_, kCommitRecordName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    FILE* in = OpenDataFile(fd_, kCommitRecordName);
    if (in == nullptr) return Fail(message, record_path, errno);
    std::vector<std::string> names;
    const Record record = ReadRecord(in, model_, &names);
    fclose(in);
    if (record == Record::kMalformed) return Fail(message, record_path, EBADMSG);
    // A complete record: the change was committed, and every copy that is
    // still there goes over its data file (one that is gone was renamed
    // before the interruption). An incomplete one: it was not, and the
    // record goes with the copies.
    if (record == Record::kIncomplete) names.clear();
    for (const std::string& name : names) {
      const std::string copy = name + kTempSuffix;
      // A copy is checked as a data file is before it becomes one.
      FILE* staged = OpenDataFile(fd_, copy.c_str());
      if (staged == nullptr) {
        if (errno == ENOENT) continue;
        return Fail(message, InfPath(copy), errno);
      }
      fclose(staged);
      if (RenameIn(fd_, copy.c_str(), name.c_str()) != 0) {
        return Fail(message, InfPath(copy), errno);
      }
    }
    if (!names.empty() && SyncDir(fd_) != 0) return Fail(message, InfPath(""), errno);
    if (RemoveIn(fd_, kCommitRecordName) != 0) return Fail(message, record_path, errno);
  } else if (errno != ENOENT) {
    return Fail(message, record_path, errno);
  }
  DiscardCopies();
  return 0;
}

void DataSet::DiscardCopies() {
  // Copies without a record belong to a change that never took effect.
  // One that cannot be removed (a reader may not write the directory) is
  // harmless, and makes the next copy of its file fail.
  for (const DataFileRow& row : kDataFiles) {
    const std::string copy = DataFileName(model_, row.file) + kTempSuffix;
    struct stat st;
    if (fstatat(fd_, copy.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) RemoveIn(fd_, copy.c_str());
  }
}

FILE* DataSet::OpenForReading(DataFile file) const {
  if (fd_ < 0) {
    errno = error_;
    return nullptr;
  }
  return OpenDataFile(fd_, DataFileName(model_, file).c_str());
}

FILE* DataSet::OpenStagedCopy(DataFile file) const {
  return OpenDataFile(fd_, (DataFileName(model_, file) + kTempSuffix).c_str());
}

int DataSet::RewriteInPlace(DataFile file, const std::vector<LineEdit>& edits,
                            const std::string& append, size_t* edited) {
  if (edited != nullptr) *edited = 0;
  const std::string name = DataFileName(model_, file);
  int result = fd_ < 0 ? -1 : StageRewrite(fd_, name.c_str(), edits, append, edited);
  int error = fd_ < 0 ? error_ : errno;
  if (result == 0) {
    staged_.push_back(name);
    return 0;
  }
  struct stat st;
  if (error == ENOENT && !RowOf(file).required && fd_ >= 0 &&
      fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
    return 0;  // nothing there to change
  }
  Abandon();
  errno = error;
  return -1;
}

int DataSet::Commit() {
  if (staged_.empty()) return 0;
  std::string record = kRecordHead;
  for (const std::string& name : staged_) record += name + "\n";
  record += kRecordTail;

  // Up to the commit point, a failure leaves every data file as it was.
  int error = 0;
  int fd = CreateIn(fd_, kCommitRecordName, 0644);
  if (fd < 0) {
    error = errno;
  } else {
    if (WriteAllFd(fd, record.data(), record.size()) != 0 ||
        SyncFile(fd, kCommitRecordName) != 0) {
      error = errno;
    }
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && SyncDir(fd_) != 0) error = errno;
    if (error != 0) RemoveIn(fd_, kCommitRecordName);
  }
  if (error != 0) {
    Abandon();
    errno = error;
    return -1;
  }

  // Committed: from here on the change stands, and what an interruption
  // leaves undone the next run does.
  const std::vector<std::string> names = std::move(staged_);
  staged_.clear();
  for (const std::string& name : names) {
    if (RenameIn(fd_, (name + kTempSuffix).c_str(), name.c_str()) != 0) return -1;
  }
  if (SyncDir(fd_) != 0) return -1;
  // Only now may the record go: until the renames are on disk, it is what
  // completes them after a power cut. A record left behind is harmless.
  RemoveIn(fd_, kCommitRecordName);
  return 0;
}

void DataSet::Abandon() {
  for (const std::string& name : staged_) RemoveIn(fd_, (name + kTempSuffix).c_str());
  staged_.clear();
}
