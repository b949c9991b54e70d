#include "lineio/line_reader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

LineBuffer::~LineBuffer() { free(data); }

ssize_t ReadLine(LineBuffer* line, FILE* in) {
  errno = 0;
  ssize_t n = getline(&line->data, &line->capacity, in);
  if (n >= 0) {
    line->length = static_cast<size_t>(n);
    return n;
  }
  line->length = 0;
  if (line->data != nullptr) line->data[0] = '\0';
  if (feof(in) && !ferror(in)) return 0;
  // A read error must not pass for the end of the file: a rewrite would
  // otherwise replace the data file by a truncated copy.
  if (errno == 0) errno = EIO;
  return -1;
}

bool LineContains(const LineBuffer& line, const char* needle) {
  return line.data != nullptr && strstr(line.data, needle) != nullptr;
}
