#include "lineio/line_blocks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "lineio/line_reader.h"
#include "lineio/needle_search.h"

LineBlockReader::LineBlockReader(FILE* in, size_t block_size)
    : in_(in), buffer_(new char[block_size]), capacity_(block_size) {
  setvbuf(in_, nullptr, _IONBF, 0);
}

bool LineBlockReader::Next(std::string_view* lines) {
  while (true) {
    // Hand out the whole lines read so far.
    if (end_ > start_) {
      const char* begin = buffer_.get() + start_;
      const void* last = memrchr(begin, '\n', end_ - start_);
      size_t stop = last != nullptr ? static_cast<size_t>(static_cast<const char*>(last) -
                                                          buffer_.get()) + 1
                                    : (eof_ ? end_ : start_);
      if (stop > start_) {
        *lines = std::string_view(begin, stop - start_);
        start_ = stop;
        return true;
      }
    }
    if (eof_ || error_ != 0) return false;

    // Keep the unfinished line, then read more after it.
    if (start_ > 0) {
      memmove(buffer_.get(), buffer_.get() + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
    }
    if (end_ == capacity_) {  // one line fills the buffer
      if (capacity_ >= kLineMax) {
        // Longer than any line may be, unless the stream ends right here.
        char next;
        if (fread(&next, 1, 1, in_) == 0 && !ferror(in_)) {
          eof_ = true;
          continue;
        }
        error_ = ferror(in_) ? (errno != 0 ? errno : EIO) : EFBIG;
        return false;
      }
      size_t capacity = capacity_ * 2 < kLineMax ? capacity_ * 2 : kLineMax;
      std::unique_ptr<char[]> larger(new char[capacity]);
      memcpy(larger.get(), buffer_.get(), end_);
      buffer_ = std::move(larger);
      capacity_ = capacity;
    }
    size_t n = fread(buffer_.get() + end_, 1, capacity_ - end_, in_);
    end_ += n;
    if (n == 0) {
      if (ferror(in_)) {
        error_ = errno != 0 ? errno : EIO;
        return false;
      }
      eof_ = true;
    }
  }
}

ReverseLineBlockReader::ReverseLineBlockReader(int fd, size_t block_size)
    : fd_(fd), buffer_(new char[block_size]), capacity_(block_size) {}

bool ReverseLineBlockReader::Previous(std::string_view* lines) {
  if (!started_) {
    started_ = true;
    struct stat st;
    if (fstat(fd_, &st) != 0) {
      error_ = errno;
      return false;
    }
    offset_ = static_cast<uint64_t>(st.st_size);
  }
  while (true) {
    // Bytes [0, kept_) of the buffer begin at offset_: the start of a line
    // that the bytes before it may finish. A newline among them ends the
    // line before; what follows it is whole lines.
    if (kept_ > 0 || offset_ == 0) {
      const void* newline = offset_ == 0 ? nullptr : memchr(buffer_.get(), '\n', kept_);
      if (offset_ == 0 || newline != nullptr) {
        const size_t start =
            offset_ == 0 ? 0 : static_cast<size_t>(static_cast<const char*>(newline) - buffer_.get()) + 1;
        if (start < kept_) {
          *lines = std::string_view(buffer_.get() + start, kept_ - start);
          kept_ = start;
          return true;
        }
        if (offset_ == 0) return false;
      }
    }
    if (error_ != 0) return false;
    // Read the block before, in front of what is kept.
    if (kept_ == capacity_) {  // one line fills the buffer
      if (capacity_ >= kLineMax) {
        error_ = EFBIG;
        return false;
      }
      const size_t capacity = capacity_ * 2 < kLineMax ? capacity_ * 2 : kLineMax;
      std::unique_ptr<char[]> larger(new char[capacity]);
      memcpy(larger.get(), buffer_.get(), kept_);
      buffer_ = std::move(larger);
      capacity_ = capacity;
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(capacity_ - kept_, offset_));
    memmove(buffer_.get() + want, buffer_.get(), kept_);
    for (size_t done = 0; done < want;) {
      const ssize_t n = pread(fd_, buffer_.get() + done, want - done,
                              static_cast<off_t>(offset_ - want + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = n < 0 ? errno : EIO;  // the file got shorter
        return false;
      }
      done += static_cast<size_t>(n);
    }
    offset_ -= want;
    kept_ += want;
  }
}

bool FindLineContaining(std::string_view lines, size_t from, std::string_view needle,
                        LineSpan* span) {
  return FindLineContainingAny(lines, from, &needle, 1, span);
}

bool FindLineContainingAny(std::string_view lines, size_t from, const std::string_view* needles,
                           size_t count, LineSpan* span) {
  // A needle with a zero byte can never match before a line's first one.
  std::vector<std::string_view> usable;
  const std::string_view* list = needles;
  size_t n = count;
  for (size_t i = 0; i < count; ++i) {
    if (needles[i].find('\0') == std::string_view::npos) continue;
    for (size_t j = 0; j < count; ++j) {
      if (needles[j].find('\0') == std::string_view::npos) usable.push_back(needles[j]);
    }
    list = usable.data();
    n = usable.size();
    break;
  }
  const char* base = lines.data();
  size_t pos = from;
  while (pos < lines.size()) {
    const size_t at = FindFirstNeedle(lines, pos, list, n);
    if (at == std::string_view::npos) return false;
    const void* before = memrchr(base + pos, '\n', at - pos);
    size_t start = before != nullptr
                       ? static_cast<size_t>(static_cast<const char*>(before) - base) + 1
                       : pos;
    const void* after = memchr(base + at, '\n', lines.size() - at);
    size_t end = after != nullptr ? static_cast<size_t>(static_cast<const char*>(after) - base) + 1
                                  : lines.size();
    // A zero byte ends the line for the test. The needles hold none, so one
    // before the first match lies before every later match in this line.
    if (memchr(base + start, '\0', at - start) == nullptr) {
      *span = {start, end};
      return true;
    }
    pos = end;
  }
  return false;
}
