#ifndef LINEIO_LINE_READER_H_
#define LINEIO_LINE_READER_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdio>

// The longest line either program reads, newline included. The data files
// may be written by any user of the printer, so a file of one enormous line
// must not make a run take gigabytes.
inline constexpr size_t kLineMax = 1024 * 1024;

// One line of a text file: its bytes, newline included when it had one,
// always followed by a zero byte. Bytes after an embedded zero byte are
// kept, so a line is copied through exactly as it was read.
struct LineBuffer {
  LineBuffer() = default;
  LineBuffer(const LineBuffer&) = delete;
  LineBuffer& operator=(const LineBuffer&) = delete;
  ~LineBuffer();

  char* data = nullptr;
  size_t capacity = 0;
  size_t length = 0;
};

// Reads the next line of |in| into |line|. Returns the number of bytes stored
// (newline included), 0 at end of file, or -1 with errno set: on a read
// error, or EFBIG for a line longer than kLineMax (the stream is then left
// inside that line). A last line without a newline is returned with its
// length.
ssize_t ReadLine(LineBuffer* line, FILE* in);

// True if the line, looked at up to its first zero byte, contains |needle|.
bool LineContains(const LineBuffer& line, const char* needle);

#endif  // LINEIO_LINE_READER_H_
