#include "lineio/write_all.h"

#include <unistd.h>

#include <cerrno>

size_t WriteAll(const void* data, size_t size, FILE* out) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    size_t n = fwrite(bytes + done, 1, size - done, out);
    if (n == 0) break;
    done += n;
  }
  return done;
}

int WriteAllFd(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return -1;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}
