#include "lineio/write_all.h"

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
