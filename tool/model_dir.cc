#include "tool/model_dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace {

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

ModelDir::ModelDir(const std::string& root, const char* model)
    : root_(root),
      model_(model),
      fd_(open((root + model + "/inf").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (fd_ < 0) error_ = errno;
}

ModelDir::~ModelDir() {
  if (fd_ < 0) return;
  int saved = errno;  // the caller may still have to report an error
  close(fd_);
  errno = saved;
}

int ModelDir::Lock(LockMode mode, int wait_seconds) {
  if (fd_ < 0) return 0;
  const int operation = (mode == LockMode::kShared ? LOCK_SH : LOCK_EX) | LOCK_NB;
  const double deadline = Now() + wait_seconds;
  // Polled rather than blocking: a blocking flock can be made to wait
  // forever by whoever holds the lock.
  while (flock(fd_, operation) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return errno;
    if (Now() >= deadline) return EWOULDBLOCK;
    const timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return 0;
}
