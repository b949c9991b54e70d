#include "tool/data_set.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cerrno>
#include <cstring>

#include "tool/data_file.h"

namespace {

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
  std::string name;
  if (int error = RecoverStaged(fd_, DataFileNames(), &name); error != 0) {
    return Fail(message, InfPath(name), error);
  }
  return 0;
}

void DataSet::DiscardCopies() { RemoveStaleCopies(fd_, DataFileNames()); }

std::vector<std::string> DataSet::DataFileNames() const {
  std::vector<std::string> names;
  for (const DataFileRow& row : kDataFiles) names.push_back(DataFileName(model_, row.file));
  return names;
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
  const std::vector<std::string> names = std::move(staged_);
  staged_.clear();
  return CommitStaged(fd_, names);
}

void DataSet::Abandon() {
  RemoveStaged(fd_, staged_);
  staged_.clear();
}
