#include "lineio/line_reader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

LineBuffer::~LineBuffer() { free(data); }

namespace {

// Room for one more byte and the terminating zero.
bool Reserve(LineBuffer* line) {
  if (line->length + 2 <= line->capacity) return true;
  size_t capacity = line->capacity == 0 ? 1024 : line->capacity * 2;
  if (capacity > kLineMax + 1) capacity = kLineMax + 1;
  char* data = static_cast<char*>(realloc(line->data, capacity));
  if (data == nullptr) return false;
  line->data = data;
  line->capacity = capacity;
  return true;
}

ssize_t Fail(LineBuffer* line, int error) {
  line->length = 0;
  if (line->data != nullptr) line->data[0] = '\0';
  errno = error;
  return -1;
}

}  // namespace

ssize_t ReadLine(LineBuffer* line, FILE* in) {
  line->length = 0;
  if (!Reserve(line)) return Fail(line, ENOMEM);
  errno = 0;
  int c;
  while ((c = getc_unlocked(in)) != EOF) {
    if (line->length == kLineMax) return Fail(line, EFBIG);
    if (!Reserve(line)) return Fail(line, ENOMEM);
    line->data[line->length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line->data[line->length] = '\0';
  // A read error must not pass for the end of the file: a rewrite would
  // otherwise replace the data file by a truncated copy.
  if (c == EOF && ferror(in)) return Fail(line, errno != 0 ? errno : EIO);
  return static_cast<ssize_t>(line->length);
}

bool LineContains(const LineBuffer& line, const char* needle) {
  return line.data != nullptr && strstr(line.data, needle) != nullptr;
}
