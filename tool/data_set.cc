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

}  // namespace

const DataFileRow& RowOf(DataFile file) {
  for (const DataFileRow& row : kDataFiles) {
    if (row.file == file) return row;
  }
  return kDataFiles[0];  // every DataFile has a row
}

Status BuildSpoolerToolPath(FormatRequest* request, const std::string& root) {
  const std::string path = SpoolerToolPath(root, request->model);
  if (path.size() >= sizeof(request->path)) return Status::Error(ENAMETOOLONG);
  memcpy(request->path, path.c_str(), path.size() + 1);
  return {};
}

DataSet::DataSet(const std::string& root, const char* model) : root_(root), model_(model) {}

DataSet::~DataSet() {
  Abandon();
  if (fd_ >= 0) close(fd_);
}

std::string DataSet::InfPath(const std::string& name) const {
  return DataDirPath(root_, model_) + "/" + name;
}

Status DataSet::Lock(int operation, double deadline) {
  // Polled rather than blocking: a blocking flock can be made to wait
  // forever by whoever holds the lock.
  while (flock(fd_, operation | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return Status::FromErrno();
    if (Now() >= deadline) return Status::Error(EWOULDBLOCK);
    const timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return {};
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
// checked. *fd is the descriptor, or -1 with the Status naming the path.
Status OpenTrustedRoot(const std::string& root, int* fd) {
  *fd = -1;
  char* resolved = realpath(root.c_str(), nullptr);
  if (resolved == nullptr) return Status::FromErrno(root);
  const std::string path = resolved;
  free(resolved);
  int dir = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Status opened = dir < 0 ? Status::FromErrno("/") : Status();
  std::string walked = "/";
  for (size_t pos = 1;; ) {
    struct stat st;
    if (!opened.ok()) return opened;
    if (fstat(dir, &st) != 0) {
      const Status failed = Status::FromErrno(walked);
      close(dir);
      return failed;
    }
    const bool last = pos >= path.size();
    if (!(last ? RootsAlone(st) : RootsAloneOrSticky(st))) {
      close(dir);
      return Status::Error(EPERM, walked, kNotRootsAlone);
    }
    if (last) {
      *fd = dir;
      return {};
    }
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(pos, end - pos);
    walked = path.substr(0, end);
    const int next = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) opened = Status::FromErrno(walked);
    close(dir);
    dir = next;
    pos = end + 1;
  }
}

}  // namespace

Status DataSet::Open(Access access, int wait_seconds) {
  const std::string model_path = ModelPath(root_, model_);
  const bool as_root = geteuid() == 0;
  int root_fd = -1;
  if (as_root) {
    if (Status trusted = OpenTrustedRoot(root_, &root_fd); !trusted.ok()) return trusted;
  } else {
    root_fd = OpenDir(-1, root_, nullptr);
  }
  Descriptor root(root_fd);
  Descriptor model(root.get() < 0 ? -1 : OpenDir(root.get(), "", model_.c_str()));
  if (as_root) {
    const std::string lpd_path = LpdPath(root_, model_);
    const std::string tool_path = SpoolerToolPath(root_, model_);
    Descriptor lpd(model.get() < 0 ? -1 : OpenDir(model.get(), "", kLpdDirName));
    struct stat st;
    for (const auto& [fd, path] : {std::pair{model.get(), model_path},
                                    std::pair{lpd.get(), lpd_path}}) {
      if (fd < 0 || fstat(fd, &st) != 0) return Status::FromErrno(path);
      if (!RootsAlone(st)) return Status::Error(EPERM, path, kNotRootsAlone);
    }
    // A listing runs no spooler-side tool.
    if (access == Access::kChange) {
      if (fstatat(lpd.get(), kSpoolerToolName, &st, 0) != 0) return Status::FromErrno(tool_path);
      if (!RootsAlone(st)) return Status::Error(EPERM, tool_path, kNotRootsAlone);
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
      return Status::Error(error_, DataDirPath(root_, model_));
    }
    return {};
  }
  const double deadline = Now() + wait_seconds;
  if (access == Access::kChange) {
    if (Status locked = Lock(LOCK_EX, deadline); !locked.ok()) return locked;
    return Recover();
  }
  // A reader recovers only when there is something to recover, and that
  // takes the lock exclusive; it then reads under that lock. Otherwise it
  // reads under a shared lock. The wait is bounded as a whole.
  if (Status locked = Lock(LOCK_SH, deadline); !locked.ok()) return locked;
  struct stat st;
  if (fstatat(fd_, kCommitRecordName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return Status::FromErrno(InfPath(kCommitRecordName));
    // No change is under way while the lock is held shared: any copy is
    // left over from one that never took effect.
    DiscardCopies();
    return {};
  }
  if (Status locked = Lock(LOCK_EX, deadline); !locked.ok()) return locked;
  return Recover();
}

Status DataSet::Recover() {
  const Status recovered = RecoverStaged(fd_, DataFileNames());
  if (recovered.ok()) return recovered;
  return Status::Error(recovered.error(), InfPath(recovered.path()));
}

void DataSet::DiscardCopies() { RemoveStaleCopies(fd_, DataFileNames()); }

std::vector<std::string> DataSet::DataFileNames() const {
  std::vector<std::string> names;
  for (const DataFileRow& row : kDataFiles) names.push_back(DataFileName(model_, row.file));
  return names;
}

Status DataSet::OpenForReading(DataFile file, FILE** in) const {
  *in = nullptr;
  if (fd_ < 0) return Status::Error(error_);
  return OpenDataFile(fd_, DataFileName(model_, file).c_str(), in);
}

Status DataSet::OpenStagedCopy(DataFile file, FILE** in) const {
  return OpenDataFile(fd_, (DataFileName(model_, file) + kTempSuffix).c_str(), in);
}

Status DataSet::RewriteInPlace(DataFile file, const std::vector<LineEdit>& edits,
                               const std::string& append, size_t* edited) {
  if (edited != nullptr) *edited = 0;
  const std::string name = DataFileName(model_, file);
  const Status status =
      fd_ < 0 ? Status::Error(error_) : StageRewrite(fd_, name.c_str(), edits, append, edited);
  if (status.ok()) {
    staged_.push_back(name);
    return status;
  }
  struct stat st;
  if (status.error() == ENOENT && !RowOf(file).required && fd_ >= 0 &&
      fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
    return {};  // nothing there to change
  }
  Abandon();
  return status;
}

Status DataSet::Commit() {
  const std::vector<std::string> names = std::move(staged_);
  staged_.clear();
  return CommitStaged(fd_, names);
}

void DataSet::Abandon() {
  RemoveStaged(fd_, staged_);
  staged_.clear();
}
