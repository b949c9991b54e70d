#ifndef LINEIO_LINE_BLOCKS_H_
#define LINEIO_LINE_BLOCKS_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <memory>

// Reads a stream in large blocks and hands them out as runs of whole lines,
// so that files of tens of megabytes are scanned without a call per line.
// Only a line longer than the block makes the buffer grow, up to kLineMax.
class LineBlockReader {
 public:
  // Blocks of 256 KiB: a scan stays in the processor's cache.
  static constexpr size_t kDefaultBlockSize = 256 * 1024;

  // Makes |in| unbuffered: the reader's own blocks are the only buffer, so
  // each byte is copied once. Call before anything else reads from |in|.
  explicit LineBlockReader(FILE* in, size_t block_size = kDefaultBlockSize);

  // The next run of whole lines, each with its newline (the stream's last
  // line may lack one). False at the end of the stream, or on a read error
  // or a line longer than kLineMax (EFBIG): then error() is the errno.
  bool Next(std::string_view* lines);
  int error() const { return error_; }

 private:
  FILE* in_;
  std::unique_ptr<char[]> buffer_;  // not zero-filled: it is always read into first
  size_t capacity_;
  size_t start_ = 0;  // first byte not yet handed out
  size_t end_ = 0;    // end of the bytes read
  bool eof_ = false;
  int error_ = 0;
};

// Reads a file from its end, in large blocks, and hands them out as runs of
// whole lines, the last run first: what was appended last is found first.
// The file is read with pread, so its descriptor's offset does not matter.
class ReverseLineBlockReader {
 public:
  static constexpr size_t kDefaultBlockSize = 256 * 1024;
  ReverseLineBlockReader(int fd, size_t block_size = kDefaultBlockSize);

  // The next run of whole lines going back, each with its newline (the
  // file's last line may lack one). False at the file's start, or on a read
  // error or a line longer than kLineMax (EFBIG): then error() is the errno.
  bool Previous(std::string_view* lines);
  int error() const { return error_; }

 private:
  int fd_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_;
  uint64_t offset_ = 0;  // where the bytes in the buffer begin in the file
  size_t kept_ = 0;      // bytes at the buffer's start not yet handed out
  bool started_ = false;
  int error_ = 0;
};

// Where a line lies within a run of lines.
struct LineSpan {
  size_t start;
  size_t end;  // just past its newline, or the end of the run
};

// Finds the first line of |lines| that contains |needle| (which holds no
// newline), looking at each line up to its first zero byte, as a substring
// test on the zero-terminated line would. |from| is the start of a line.
bool FindLineContaining(std::string_view lines, size_t from, std::string_view needle,
                        LineSpan* span);

// The same for the first line that contains any of |needles|, in one pass.
bool FindLineContainingAny(std::string_view lines, size_t from, const std::string_view* needles,
                           size_t count, LineSpan* span);

#endif  // LINEIO_LINE_BLOCKS_H_
