#include "print/job_file.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "lineio/needle_search.h"

namespace {

// Where the job's bytes come from: a file read with pread, or memory.
class Source {
 public:
  explicit Source(int fd) : fd_(fd) {}
  explicit Source(std::string_view bytes) : bytes_(bytes), in_memory_(true) {}

  // Up to |size| bytes from |offset| into *out; fewer only at the end.
  Status Read(uint64_t offset, size_t size, std::string* out) const {
    if (in_memory_) {
      const size_t start = offset < bytes_.size() ? static_cast<size_t>(offset) : bytes_.size();
      out->assign(bytes_.substr(start, std::min(size, bytes_.size() - start)));
      return {};
    }
    out->resize(size);
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pread(fd_, out->data() + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Status::FromErrno();
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    out->resize(done);
    return {};
  }

 private:
  int fd_ = -1;
  std::string_view bytes_;
  bool in_memory_ = false;
};

// Bytes read at once, and how far past a key its value is looked for: a
// block is searched for keys only where that much follows it in the block
// (or the job ends), the next block starting that much before its end.
constexpr size_t kBlock = 1 << 20;
constexpr size_t kValueReach = 256;

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0';
}
bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// The number at *pos, up to white space or one of |stops|: finite, no
// longer than 32 bytes, nothing after it; *pos moves past it.
bool ReadNumber(std::string_view text, size_t* pos, std::string_view stops, double* number) {
  size_t end = *pos;
  while (end < text.size() && !IsWhite(text[end]) && stops.find(text[end]) == std::string_view::npos) {
    ++end;
  }
  const std::string token(text.substr(*pos, end - *pos));
  if (token.empty() || token.size() > 32) return false;
  char* stop;
  *number = strtod(token.c_str(), &stop);
  if (*stop != '\0' || !std::isfinite(*number)) return false;
  *pos = end;
  return true;
}

// An array of |count| numbers, "[ n n ... ]", at the start of |text| after
// white space; false if it is not one.
bool ReadArray(std::string_view text, size_t count, double* numbers) {
  size_t pos = 0;
  while (pos < text.size() && IsWhite(text[pos])) ++pos;
  if (pos == text.size() || text[pos] != '[') return false;
  ++pos;
  for (size_t i = 0; i < count; ++i) {
    while (pos < text.size() && IsWhite(text[pos])) ++pos;
    if (!ReadNumber(text, &pos, "[]", &numbers[i])) return false;
  }
  while (pos < text.size() && IsWhite(text[pos])) ++pos;
  return pos < text.size() && text[pos] == ']';
}

// Four numbers in a row after white space, as a DSC comment gives them.
bool ReadFour(std::string_view text, double* numbers) {
  size_t pos = 0;
  for (size_t i = 0; i < 4; ++i) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    if (!ReadNumber(text, &pos, "", &numbers[i])) return false;
  }
  return true;
}

std::optional<PageBox> Box(double llx, double lly, double urx, double ury) {
  const PageBox box{llx, lly, urx, ury};
  for (double figure : {llx, lly, urx, ury}) {
    if (!(std::fabs(figure) <= kMaxPagePoints)) return std::nullopt;
  }
  if (!(box.width() > 0 && box.height() > 0)) return std::nullopt;
  return box;
}

JobKind KindOf(std::string_view start) {
  if (!start.empty() && start[0] == '\004') start.remove_prefix(1);  // a driver's ^D
  if (start.substr(0, 2) == "%!") return JobKind::kPostScript;
  if (start.substr(0, 4) == "%PDF") return JobKind::kPdf;
  return JobKind::kOther;
}

// The one pass over the job: each block searched for the keys at once.
Status Read(const Source& source, JobInfo* info) {
  *info = {};
  std::string block;
  if (Status read = source.Read(0, kBlock, &block); !read.ok()) return read;
  info->kind = KindOf(block);
  if (info->kind == JobKind::kOther) return {};

  const bool ps = info->kind == JobKind::kPostScript;
  const std::string_view page_size = "/PageSize", bounding_box = "%%BoundingBox:",
                         media_box = "/MediaBox";
  const std::string_view ps_keys[] = {page_size, bounding_box};
  const std::string_view* keys = ps ? ps_keys : &media_box;
  const size_t key_count = ps ? 2 : 1;

  std::optional<PageBox> first_bounding_box;
  bool in_page_size_line = false;  // after a /PageSize, until its line ends
  char before = '\n';              // the byte before the block
  for (uint64_t offset = 0;;) {
    const bool last = block.size() < kBlock;
    const size_t searched = last ? block.size() : block.size() - kValueReach;
    const std::string_view text(block);
    for (size_t pos = 0;;) {
      if (in_page_size_line) {
        // A /PageSize after the first on its line stands over it; the line
        // ends at its first line end.
        size_t end = pos;
        while (end < searched && !IsLineEnd(text[end])) ++end;
        const std::string_view line = text.substr(0, end);
        for (size_t at = line.find(page_size, pos); at != std::string_view::npos;
             at = line.find(page_size, at + 1)) {
          double size[2];
          if (ReadArray(text.substr(at + page_size.size(), kValueReach), 2, size)) {
            info->box = Box(0, 0, size[0], size[1]);
          }
        }
        if (end < searched) return {};  // the line ended: its last /PageSize is the box
        break;
      }
      const size_t at = FindFirstNeedle(text.substr(0, searched), pos, keys, key_count);
      if (at == std::string_view::npos) break;
      pos = at + 1;
      if (!ps) {
        double box[4];
        if (ReadArray(text.substr(at + media_box.size(), kValueReach), 4, box) &&
            (info->box = Box(box[0], box[1], box[2], box[3]))) {
          return {};
        }
        continue;
      }
      if (text.substr(at, page_size.size()) == page_size) {
        double size[2];
        if (ReadArray(text.substr(at + page_size.size(), kValueReach), 2, size) &&
            (info->box = Box(0, 0, size[0], size[1]))) {
          in_page_size_line = true;
          pos = at + page_size.size();
        }
        continue;
      }
      // A DSC comment stands at a line's start.
      const char previous = at == 0 ? before : text[at - 1];
      double box[4];
      if (!first_bounding_box && IsLineEnd(previous) &&
          ReadFour(text.substr(at + bounding_box.size(), kValueReach), box)) {
        first_bounding_box = Box(box[0], box[1], box[2], box[3]);
      }
    }
    if (last) break;
    offset += searched;
    before = block[searched - 1];
    if (Status read = source.Read(offset, kBlock, &block); !read.ok()) return read;
  }
  if (!info->box && ps) info->box = first_bounding_box;
  return {};
}

}  // namespace

Status ReadJobInfo(int fd, JobInfo* info) { return Read(Source(fd), info); }

JobInfo JobInfoOf(const std::string& job) {
  JobInfo info;
  (void)Read(Source(std::string_view(job)), &info);
  return info;
}
