#ifndef LINEIO_LINE_BLOCKS_H_
#define LINEIO_LINE_BLOCKS_H_

#include <cstddef>
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
