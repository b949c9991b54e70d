#include "tool/list_formats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "lineio/line_blocks.h"
#include "lineio/string_printf.h"
#include "lineio/write_all.h"
#include "tool/format_id.h"
#include "tool/format_text.h"
#include "tool/id_table.h"

namespace {

// Which data files hold an identifier, and whether it was listed already.
enum Flag : uint8_t { kInPaper = 1, kInArea = 2, kListed = 4 };

// A line that holds an identifier, ready for its lookup.
struct IdLine {
  std::string_view text;  // the line, with its newline
  std::string_view id;    // as FormatIdIn reads it
  uint64_t word;          // its word; 0 for one too long for a word
};

// The value of each upper-case hex digit, 16 for any other byte.
constexpr auto kHexValue = [] {
  std::array<uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[c] = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 16;
  }
  return table;
}();

// Eight upper-case hex digits at |p| as a number, in a few word operations
// instead of a step a digit; false if any of the eight is not one.
bool EightHexDigits(const char* p, uint64_t* value) {
  uint64_t v;
  memcpy(&v, p, 8);
  if constexpr (std::endian::native != std::endian::little) v = __builtin_bswap64(v);
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  // No byte past 0x7F, so that adding to one never carries into the next.
  if (v & kHigh) return false;
  const uint64_t digit = (v + (0x80 - '0') * kOnes) & ~(v + (0x80 - ('9' + 1)) * kOnes);
  const uint64_t letter = (v + (0x80 - 'A') * kOnes) & ~(v + (0x80 - ('F' + 1)) * kOnes);
  if (((digit | letter) & kHigh) != kHigh) return false;
  // Each byte its value ('0'-'9': low nibble; 'A'-'F': low nibble + 9),
  // then pairs of bytes, pairs of those and so on folded, first digit
  // highest.
  v = (v & 0x0F0F0F0F0F0F0F0Full) + 9 * ((v >> 6) & kOnes);
  v = ((v & 0x000F000F000F000Full) << 4) | ((v >> 8) & 0x000F000F000F000Full);
  v = ((v & 0x000000FF000000FFull) << 8) | ((v >> 16) & 0x000000FF000000FFull);
  *value = ((v & 0xFFFF) << 16) | ((v >> 32) & 0xFFFF);
  return true;
}

// The identifier of |text| and its word, in one pass over a line that
// begins with "KsL" (most do); FormatIdIn for any other.
bool ReadIdLine(std::string_view text, IdLine* line) {
  line->text = text;
  if (text.size() >= 3 && text[0] == 'K' && text[1] == 's' && text[2] == 'L') {
    uint64_t value = 0;
    size_t end = 3;
    // The first eight of the twelve or more digits at once, where the line
    // holds that many bytes.
    if (text.size() >= 11 && EightHexDigits(text.data() + 3, &value)) end = 11;
    for (uint8_t digit; end < text.size() &&
                        (digit = kHexValue[static_cast<unsigned char>(text[end])]) < 16;
         ++end) {
      value = value * 16 + digit;
    }
    const size_t digits = end - 3;
    if (digits < kMinIdDigits) return false;
    line->id = text.substr(0, end);
    line->word = 0;
    if (digits <= 15) {
      for (size_t d = kMinIdDigits; d < digits; ++d) value += uint64_t{1} << (4 * d);
      line->word = value;
    }
    return true;
  }
  line->id = FormatIdIn(text);
  if (line->id.empty()) return false;
  line->word = 0;
  if (uint64_t word; IdTable::ToWord(line->id, &word)) line->word = word;
  return true;
}

// Calls |line_fn| with each line of |file| that holds an identifier, in file
// order. Lines are taken sixteen at a time, each one's table slot fetched
// from memory first, so that the table's cache misses overlap instead of
// coming one after the other. A file that does not exist holds none,
// unless |must_open|.
template <typename LineFn>
Status ForEachIdLine(const DataSet& data, DataFile file, bool must_open, const IdTable& table,
                     LineFn line_fn) {
  FILE* in;
  if (Status opened = data.OpenForReading(file, &in); !opened.ok()) {
    return !must_open && opened.error() == ENOENT ? Status() : opened;
  }
  LineBlockReader reader(in);
  std::string_view block;
  constexpr size_t kBatch = 16;
  IdLine batch[kBatch];
  size_t count = 0;
  auto flush = [&] {
    for (size_t i = 0; i < count; ++i) line_fn(batch[i]);
    count = 0;
  };
  while (reader.Next(&block)) {
    LineSpan span;
    // Most lines begin with their identifier: those need no search.
    auto next_line = [&](size_t pos) {
      if (block.size() - pos >= 3 && block[pos] == 'K' && block[pos + 1] == 's' &&
          block[pos + 2] == 'L') {
        const void* newline = memchr(block.data() + pos, '\n', block.size() - pos);
        span = {pos, newline == nullptr
                         ? block.size()
                         : static_cast<size_t>(static_cast<const char*>(newline) - block.data()) + 1};
        return true;
      }
      return FindLineContaining(block, pos, "KsL", &span);
    };
    for (size_t pos = 0; pos < block.size() && next_line(pos); pos = span.end) {
      IdLine& line = batch[count];
      if (!ReadIdLine(block.substr(span.start, span.end - span.start), &line)) continue;
      if (line.word != 0) __builtin_prefetch(table.HomeSlot(line.word));
      if (++count == kBatch) flush();
    }
    flush();  // the block's lines are valid until the next one is read
  }
  const int error = reader.error();
  fclose(in);
  return error != 0 ? Status::Error(error, data.PathOf(file)) : Status();
}

// A size an imaging area line gives where the identifier's own fields
// would say otherwise (a height of 4096 mm or more, or a hand-made line);
// 0 by 0 where the line gives no size that can be read.
struct SizeException {
  uint64_t word;
  int32_t width, height;
  bool operator<(const SizeException& other) const { return word < other.word; }
};

// What the listing writes, gathered in 64 KiB and written whole.
class Output {
 public:
  explicit Output(FILE* out) : out_(out) {}
  // Room for |n| more bytes (n at most the buffer's size).
  char* Reserve(size_t n) {
    if (used_ + n > sizeof buffer_) Flush();
    return buffer_ + used_;
  }
  void Commit(char* end) { used_ = static_cast<size_t>(end - buffer_); }
  // False, with the error, if a write failed.
  int Flush() {
    if (error_ == 0 && used_ > 0 && WriteAll(buffer_, used_, out_) != used_) {
      error_ = errno != 0 ? errno : EIO;
    }
    used_ = 0;
    return error_;
  }

 private:
  FILE* out_;
  char buffer_[64 * 1024];
  size_t used_ = 0;
  int error_ = 0;
};

// |value| in decimal; sizes of up to four digits, nearly all, in one step.
char* Decimal(char* p, int32_t value) {
  if (value >= 0 && value < 10000) {
    const int digits = value >= 1000 ? 4 : value >= 100 ? 3 : value >= 10 ? 2 : 1;
    for (int i = digits - 1; i >= 0; --i) {
      p[i] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    return p + digits;
  }
  char digits[12];
  int n = 0;
  uint32_t v = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (value < 0) *p++ = '-';
  while (n > 0) *p++ = digits[--n];
  return p;
}

// The listing keeps no line: it reads the files again instead. What it
// holds is each identifier once, as a word with its flags, and the sizes
// that the identifiers do not tell.
class Lister {
 public:
  Lister(const DataSet& data, FILE* out) : data_(data), out_(std::make_unique<Output>(out)) {
    // The states of a format in the func list, made once.
    for (uint8_t flags = 0; flags < 4; ++flags) {
      AppendState(&states_[flags], data.model(), true, flags & kInPaper, flags & kInArea);
    }
  }

  Status Run() {
    // Room for the identifiers of the larger file, judged from its size (a
    // line of an identifier, as the tool writes it, takes 38 bytes or more
    // in the imaging area file, and 32 in the paper info file for a name of
    // 8 bytes): where the two agree, that is all of them, and the table
    // grows if a file of shorter lines holds more. Only the bytes a file
    // really holds count, so that a sparse one of a few terabytes costs
    // nothing, and no more than 16 million slots are taken before they are
    // needed.
    const uint64_t ids = std::max(data_.FileBytes(DataFile::kImagingArea) / 42,
                                  data_.FileBytes(DataFile::kPaperInfo) / 48);
    ids_.Reserve(static_cast<size_t>(std::min<uint64_t>(ids, uint64_t{1} << 24)));
    // The size of an identifier is its last imaging area line's (the one a
    // print job's lookup from the file's end meets first).
    auto add_area = [this](const IdLine& line) {
      const bool seen = Set(line, kInArea) & kInArea;
      area_ids_ += !seen;
      int32_t width, height, id_width, id_height;
      IdSize(line, &id_width, &id_height);
      if (!SizeFromImagingArea(line.text, line.id, &width, &height)) {
        width = height = 0;  // no size to be read: the state says so
      } else if (!seen && width == id_width && height == id_height) {
        return;  // the identifier tells it
      }
      // A later line's, even the identifier's own, stands over an earlier one's.
      if (line.word != 0) {
        sizes_.push_back({line.word, width, height});
      } else {
        ids_.SetLongSize(line.id, width, height);
      }
    };
    auto add_paper = [this](const IdLine& line) {
      paper_ids_ += !(Set(line, kInPaper) & kInPaper);
    };
    if (Status read = ForEachIdLine(data_, DataFile::kImagingArea, false, ids_, add_area);
        !read.ok()) {
      return read;
    }
    if (Status read = ForEachIdLine(data_, DataFile::kPaperInfo, false, ids_, add_paper);
        !read.ok()) {
      return read;
    }
    std::stable_sort(sizes_.begin(), sizes_.end());  // each word's lines in file order

    // The func list's entries, in its order. An identifier is marked
    // listed as it is, and counted against the other files, so that they
    // are read again only for what the func list lacks.
    size_t paper_listed = 0, area_listed = 0;
    auto list = [&](const IdLine& line) {
      std::string_view name;
      if (!EntryNameIn(line.text, line.id, &name)) return;
      const uint8_t flags = Set(line, kListed, true);
      Write(name, line, true, flags);
      if (!(flags & kListed)) {
        paper_listed += (flags & kInPaper) != 0;
        area_listed += (flags & kInArea) != 0;
      }
    };
    if (Status read = ForEachIdLine(data_, DataFile::kFuncList, true, ids_, list); !read.ok()) {
      return read;
    }
    // What the func list lacks, each identifier once: by the paper info
    // file's first line of it (which names it), then by the imaging area's.
    auto list_paper = [&](const IdLine& line) {
      const uint8_t flags = Set(line, kListed);
      if (flags & kListed) return;
      std::string_view name;
      if (!EntryNameIn(line.text, line.id, &name)) name = {};
      Write(name, line, false, flags);
      area_listed += (flags & kInArea) != 0;
    };
    auto list_area = [this](const IdLine& line) {
      const uint8_t flags = Set(line, kListed);
      if (!(flags & kListed)) Write({}, line, false, flags);
    };
    if (paper_ids_ > paper_listed) {
      if (Status read = ForEachIdLine(data_, DataFile::kPaperInfo, false, ids_, list_paper);
          !read.ok()) {
        return read;
      }
    }
    if (area_ids_ > area_listed) {
      if (Status read = ForEachIdLine(data_, DataFile::kImagingArea, false, ids_, list_area);
          !read.ok()) {
        return read;
      }
    }
    const int error = out_->Flush();
    return error != 0 ? Status::Error(error) : Status();
  }

 private:
  // The identifier's own width and height fields: from its word where it
  // has twelve digits (a width below 256 mm), which the word holds as they
  // stand.
  static void IdSize(const IdLine& line, int32_t* width, int32_t* height) {
    if (line.word != 0 && line.id.size() == 3 + kMinIdDigits) {
      *width = static_cast<int32_t>((line.word >> 32) & 0xFF);
      *height = static_cast<int32_t>((line.word >> 20) & 0xFFF);
      return;
    }
    SizeFromId(line.id, width, height);
  }

  uint8_t Set(const IdLine& line, uint8_t flag, bool only_if_held = false) {
    return line.word != 0 ? ids_.SetWord(line.word, flag, only_if_held)
                          : ids_.Set(line.id, flag, only_if_held);
  }

  void Write(std::string_view name, const IdLine& line, bool in_func, uint8_t flags) {
    int32_t width, height;
    IdSize(line, &width, &height);
    bool readable = true;
    if (flags & kInArea) {
      int32_t w = width, h = height;
      if (line.word != 0) {
        auto after = std::upper_bound(sizes_.begin(), sizes_.end(), SizeException{line.word, 0, 0});
        if (after != sizes_.begin() && (after - 1)->word == line.word) {
          w = (after - 1)->width, h = (after - 1)->height;  // the last line's
        }
      } else {
        ids_.LongSize(line.id, &w, &h);
      }
      readable = w != 0;
      if (readable) width = w, height = h;
    }
    std::string_view state;
    std::string other;
    if (in_func && readable) {
      state = states_[flags & (kInPaper | kInArea)];
    } else {
      AppendState(&other, data_.model(), in_func, flags & kInPaper, flags & kInArea, readable);
      state = other;
    }
    char* p = out_->Reserve(name.size() * kPrintableGrowth + line.id.size() + state.size() + 32);
    p = PrintableTo(name, p);
    *p++ = '\t';
    p = Decimal(p, width);
    *p++ = 'x';
    p = Decimal(p, height);
    *p++ = '\t';
    memcpy(p, line.id.data(), line.id.size());
    p += line.id.size();
    *p++ = '\t';
    memcpy(p, state.data(), state.size());
    p += state.size();
    *p++ = '\n';
    out_->Commit(p);
  }

  const DataSet& data_;
  std::unique_ptr<Output> out_;
  IdTable ids_;
  std::string states_[4];  // of a func list entry, by its kInPaper and kInArea flags
  std::vector<SizeException> sizes_;
  size_t paper_ids_ = 0, area_ids_ = 0;  // identifiers each file holds, each once
};

}  // namespace

Status ListFormats(const DataSet& data, FILE* out) {
  try {
    return Lister(data, out).Run();
  } catch (const std::bad_alloc&) {
    return Status::Error(ENOMEM);
  }
}
