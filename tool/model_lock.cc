#include "tool/model_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

ModelLock::ModelLock(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  int result;
  do {
    result = flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    close(fd);
    return;
  }
  fd_ = fd;
}

ModelLock::~ModelLock() {
  if (fd_ < 0) return;
  int saved = errno;  // the caller may still have to report an error
  close(fd_);
  errno = saved;
}
