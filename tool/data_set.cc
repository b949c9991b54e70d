#include "tool/data_set.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

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
  for (CommittedFile& file : files_) {
    if (file.fd >= 0) close(file.fd);
  }
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

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

constexpr char kNotRootsAlone[] = "must belong to root and be writable by root alone";
constexpr char kLinkRefused[] = "is a symbolic link, which the tool run as root does not follow";

// Root runs the spooler-side tool found here: anyone else who could change
// it, or a directory on the way to it, could run a program as root.
bool RootsAlone(const struct stat& st) {
  return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A directory on the way to the install root: as RootsAlone, or sticky, like
// /tmp, where no one else may move or remove what root owns.
bool RootsAloneOrSticky(const struct stat& st) {
  return st.st_uid == 0 && ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX));
}

// Opens directory |name| of |dir_fd| (|path| for messages), never through a
// symbolic link: a link is ELOOP, naming it, whatever it points to.
Status OpenSubdir(int dir_fd, const char* name, const std::string& path, int* fd) {
  *fd = openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (*fd >= 0) return {};
  const Status failed = Status::FromErrno(path);
  struct stat st;
  if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return Status::Error(ELOOP, path, kLinkRefused);
  }
  return failed;
}

// Opens the install root |root| for root: from / down to it, each directory
// opened from the one before and never through a symbolic link, each
// checked as it is. Then no one but root can change what the path leads
// to, and what root later runs by that path is what was checked here. A
// relative |root| is taken from the working directory, whose path getcwd
// gives without links. *fd is the descriptor, or -1 with the Status naming
// the path.
Status OpenTrustedRoot(const std::string& root, int* fd) {
  *fd = -1;
  std::string path = root;
  if (path.empty() || path[0] != '/') {
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) return Status::FromErrno(root);
    path = std::string(cwd) + "/" + path;
    free(cwd);
  }
  Descriptor dir(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return Status::FromErrno("/");
  std::string walked;
  for (size_t pos = 0;;) {
    while (pos < path.size() && path[pos] == '/') ++pos;
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    // The components still to come, "." aside: none makes this the root.
    std::string_view rest = std::string_view(path).substr(pos);
    bool last = true;
    for (size_t at = 0; at < rest.size() && last;) {
      size_t stop = rest.find('/', at);
      if (stop == std::string_view::npos) stop = rest.size();
      const std::string_view part = rest.substr(at, stop - at);
      last = part.empty() || part == ".";
      at = stop + 1;
    }
    struct stat st;
    if (fstat(dir.get(), &st) != 0) return Status::FromErrno(walked.empty() ? "/" : walked);
    if (!(last ? RootsAlone(st) : RootsAloneOrSticky(st))) {
      return Status::Error(EPERM, walked.empty() ? "/" : walked, kNotRootsAlone);
    }
    if (last) {
      *fd = dir.release();
      return {};
    }
    const std::string name = path.substr(pos, end - pos);
    pos = end;
    if (name == ".") continue;
    walked += "/" + name;
    int next;
    if (Status opened = OpenSubdir(dir.get(), name.c_str(), walked, &next); !opened.ok()) {
      return opened;
    }
    dir.reset(next);
  }
}

}  // namespace

Status DataSet::Open(Access access, int wait_seconds) {
  const std::string model_path = ModelPath(root_, model_);
  const bool as_root = geteuid() == 0;
  Descriptor root;
  Descriptor model;
  if (as_root) {
    int fd;
    if (Status trusted = OpenTrustedRoot(root_, &fd); !trusted.ok()) return trusted;
    root.reset(fd);
    if (Status opened = OpenSubdir(root.get(), model_.c_str(), model_path, &fd); !opened.ok()) {
      return opened;
    }
    model.reset(fd);
    const std::string lpd_path = LpdPath(root_, model_);
    const std::string tool_path = SpoolerToolPath(root_, model_);
    if (Status opened = OpenSubdir(model.get(), kLpdDirName, lpd_path, &fd); !opened.ok()) {
      return opened;
    }
    Descriptor lpd(fd);
    struct stat st;
    for (const auto& [dir, path] : {std::pair{model.get(), model_path},
                                     std::pair{lpd.get(), lpd_path}}) {
      if (fstat(dir, &st) != 0) return Status::FromErrno(path);
      if (!RootsAlone(st)) return Status::Error(EPERM, path, kNotRootsAlone);
    }
    // A listing runs no spooler-side tool. The shell will find the tool by
    // its path again: a link there could be changed under root's feet.
    if (access == Access::kChange) {
      if (fstatat(lpd.get(), kSpoolerToolName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return Status::FromErrno(tool_path);
      }
      if (S_ISLNK(st.st_mode)) return Status::Error(ELOOP, tool_path, kLinkRefused);
      if (!S_ISREG(st.st_mode) || !RootsAlone(st)) {
        return Status::Error(EPERM, tool_path, kNotRootsAlone);
      }
    }
  } else {
    root.reset(open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.get() < 0) error_ = errno;
    if (root.get() >= 0) {
      model.reset(openat(root.get(), model_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (model.get() < 0) error_ = errno;
    }
  }
  if (model.get() >= 0) {
    int fd;
    const Status opened = OpenSubdir(model.get(), kDataDirName, DataDirPath(root_, model_), &fd);
    // A link in place of the data directory would take the files elsewhere.
    if (opened.error() == ELOOP || opened.error() == ENOTDIR) return opened;
    if (!opened.ok()) error_ = opened.error();
    fd_ = fd;
  }
  if (fd_ < 0) return {};
  if (access == Access::kChange) {
    if (Status locked = Lock(LOCK_EX, Now() + wait_seconds); !locked.ok()) return locked;
    return Recover();
  }
  snapshot_ = true;
  if (Status taken = OpenCommitted(fd_, DataFileNames(), &files_); !taken.ok()) {
    return Status::Error(taken.error(), DataDirPath(root_, model_),
                         "the data set kept changing while it was read; try again");
  }
  return {};
}

Status DataSet::Recover() {
  bool discarded = false;
  const Status recovered = RecoverStaged(fd_, DataFileNames(), &discarded);
  if (discarded) {
    warnings_.push_back(InfPath(kCommitRecordName) +
                        ": was no complete commit record (cut short by a crash, or not the "
                        "tool's): removed, with the copies staged beside it");
  }
  if (recovered.ok()) return recovered;
  return Status::Error(recovered.error(), InfPath(recovered.path()));
}

std::vector<std::string> DataSet::DataFileNames() const {
  std::vector<std::string> names;
  for (const DataFileRow& row : kDataFiles) names.push_back(DataFileName(model_, row.file));
  return names;
}

std::string DataSet::PathOf(DataFile file) const { return InfPath(DataFileName(model_, file)); }

Status DataSet::Named(Status status, const std::string& name) const {
  if (status.ok() || status.kind() != Status::Kind::kError) return status;
  if (fd_ < 0) return Status::Error(status.error(), DataDirPath(root_, model_));
  if (status.path().empty() && name.empty()) return status.WithPath(DataDirPath(root_, model_));
  return status.WithPath(InfPath(status.path().empty() ? name : status.path()));
}

namespace {

size_t IndexOf(DataFile file) {
  for (size_t i = 0; i < std::size(kDataFiles); ++i) {
    if (kDataFiles[i].file == file) return i;
  }
  return 0;
}

}  // namespace

Status DataSet::OpenForReading(DataFile file, FILE** in) const {
  *in = nullptr;
  const std::string name = DataFileName(model_, file);
  if (fd_ < 0) return Named(Status::Error(error_), name);
  if (!snapshot_) return Named(OpenDataFile(fd_, name.c_str(), in), name);
  const CommittedFile& taken = files_[IndexOf(file)];
  if (taken.fd < 0) return Named(taken.status, name);
  // A descriptor of its own for each reading, from the start; the
  // snapshot's stays as it is.
  const int fd = fcntl(taken.fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return Named(Status::FromErrno(), name);
  if (lseek(fd, 0, SEEK_SET) != 0 || (*in = fdopen(fd, "r")) == nullptr) {
    const Status failed = Status::FromErrno();
    close(fd);
    return Named(failed, name);
  }
  return {};
}

Status DataSet::RequiredFiles() const {
  if (fd_ < 0) return Status::Error(error_, DataDirPath(root_, model_));
  for (const DataFileRow& row : kDataFiles) {
    if (!row.required) continue;
    const Status& taken = files_[IndexOf(row.file)].status;
    if (snapshot_ && taken.error() == ENOENT) return Named(taken, DataFileName(model_, row.file));
  }
  return {};
}

uint64_t DataSet::FileBytes(DataFile file) const {
  struct stat st;
  if (fd_ < 0) return 0;
  if (snapshot_) {
    const CommittedFile& taken = files_[IndexOf(file)];
    if (taken.fd < 0 || fstat(taken.fd, &st) != 0) return 0;
  } else if (fstatat(fd_, DataFileName(model_, file).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return 0;
  }
  // A sparse file of a few terabytes holds only the blocks it has.
  return static_cast<uint64_t>(
      std::max<off_t>(0, std::min<off_t>(st.st_size, st.st_blocks * off_t{512})));
}

Status DataSet::OpenStagedCopy(DataFile file, FILE** in) const {
  const std::string name = DataFileName(model_, file) + kTempSuffix;
  return Named(OpenDataFile(fd_, name.c_str(), in), name);
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
  return Named(status, name);
}

Status DataSet::Commit() {
  const std::vector<std::string> names = std::move(staged_);
  staged_.clear();
  return Named(CommitStaged(fd_, names), "");
}

void DataSet::Abandon() {
  if (fd_ >= 0) RemoveStaged(fd_, staged_);
  staged_.clear();
}
