#include "tool/list_formats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
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

// Calls |line_fn| with each line of |file| that holds an identifier, and
// that identifier, in file order. |ahead| sees each identifier a few lines
// before |line_fn| does, so that the table slots they need are fetched from
// memory side by side instead of one after the other. A file that does not
// exist holds none, unless |must_open|.
template <typename AheadFn, typename LineFn>
Status ForEachIdLine(const DataSet& data, DataFile file, bool must_open, AheadFn ahead,
                     LineFn line_fn) {
  FILE* in;
  if (Status opened = data.OpenForReading(file, &in); !opened.ok()) {
    return !must_open && opened.error() == ENOENT ? Status() : opened;
  }
  LineBlockReader reader(in);
  std::string_view block;
  constexpr size_t kBatch = 16;
  std::pair<std::string_view, std::string_view> batch[kBatch];  // line, identifier
  while (reader.Next(&block)) {
    size_t count = 0;
    auto flush = [&] {
      for (size_t i = 0; i < count; ++i) line_fn(batch[i].first, batch[i].second);
      count = 0;
    };
    LineSpan span;
    // Most lines begin with their identifier: those need no search.
    auto next_line = [&](size_t pos) {
      if (block.compare(pos, 3, "KsL") == 0) {
        const size_t newline = block.find('\n', pos);
        span = {pos, newline == std::string_view::npos ? block.size() : newline + 1};
        return true;
      }
      return FindLineContaining(block, pos, "KsL", &span);
    };
    for (size_t pos = 0; pos < block.size() && next_line(pos); pos = span.end) {
      std::string_view text = block.substr(span.start, span.end - span.start);
      std::string_view id = FormatIdIn(text);
      if (id.empty()) continue;
      ahead(id);
      batch[count++] = {text, id};
      if (count == kBatch) flush();
    }
    flush();  // the block's lines are valid until the next one is read
  }
  const int error = reader.error();
  fclose(in);
  return error != 0 ? Status::Error(error, data.PathOf(file)) : Status();
}

// A size an imaging area line gives where the identifier's own fields
// would say otherwise (a height of 4096 mm or more, or a hand-made line).
struct SizeException {
  uint64_t word;
  int32_t width, height;
  bool operator<(const SizeException& other) const { return word < other.word; }
};

// The listing keeps no line: it reads the files again instead. What it
// holds is each identifier once, as a word with its flags, and the sizes
// that the identifiers do not tell.
class Lister {
 public:
  Lister(const DataSet& data, FILE* out)
      : data_(data), out_(out) {}

  Status Run() {
    // Room for the identifiers of the larger file, judged from its size
    // (a line of an identifier, as the tool writes it, takes some 32 bytes
    // or more): where the two agree, that is all of them, and the table
    // grows if a file of shorter lines holds more. Only the bytes a file
    // really holds count, so that a sparse one of a few terabytes costs
    // nothing, and no more than 16 million slots are taken before they are
    // needed.
    const uint64_t bytes = std::max(FileSize(DataFile::kPaperInfo), FileSize(DataFile::kImagingArea));
    ids_.Reserve(static_cast<size_t>(std::min<uint64_t>(bytes / 32, uint64_t{1} << 24)));
    // The size of an identifier is its first imaging area line's.
    auto add_area = [this](std::string_view text, std::string_view id) {
      if (ids_.Set(id, kInArea) & kInArea) return;
      ++area_ids_;
      int32_t width, height, id_width, id_height;
      SizeFromId(id, &id_width, &id_height);
      if (!SizeFromImagingArea(text, id, &width, &height) ||
          (width == id_width && height == id_height)) {
        return;
      }
      if (uint64_t word; IdTable::ToWord(id, &word)) {
        sizes_.push_back({word, width, height});
      } else {
        ids_.SetLongSize(id, width, height);
      }
    };
    auto add_paper = [this](std::string_view, std::string_view id) {
      paper_ids_ += !(ids_.Set(id, kInPaper) & kInPaper);
    };
    if (Status read = ForEachIdLine(data_, DataFile::kImagingArea, false, ahead_, add_area);
        !read.ok()) {
      return read;
    }
    if (Status read = ForEachIdLine(data_, DataFile::kPaperInfo, false, ahead_, add_paper);
        !read.ok()) {
      return read;
    }
    std::sort(sizes_.begin(), sizes_.end());

    // The func list's entries, in its order. An identifier is marked
    // listed as it is, and counted against the other files, so that they
    // are read again only for what the func list lacks.
    size_t paper_listed = 0, area_listed = 0;
    auto list = [&](std::string_view text, std::string_view id) {
      std::string_view name;
      if (!EntryNameIn(text, id, &name)) return;
      const uint8_t flags = ids_.Set(id, kListed, true);
      Write(name, id, true, flags);
      if (!(flags & kListed)) {
        paper_listed += (flags & kInPaper) != 0;
        area_listed += (flags & kInArea) != 0;
      }
    };
    if (Status read = ForEachIdLine(data_, DataFile::kFuncList, true, ahead_, list); !read.ok()) {
      return read;
    }
    // What the func list lacks, each identifier once: by the paper info
    // file's first line of it (which names it), then by the imaging area's.
    auto list_paper = [&](std::string_view text, std::string_view id) {
      const uint8_t flags = ids_.Set(id, kListed);
      if (flags & kListed) return;
      std::string_view name;
      if (!EntryNameIn(text, id, &name)) name = {};
      Write(name, id, false, flags);
      area_listed += (flags & kInArea) != 0;
    };
    auto list_area = [this](std::string_view, std::string_view id) {
      const uint8_t flags = ids_.Set(id, kListed);
      if (!(flags & kListed)) Write({}, id, false, flags);
    };
    if (paper_ids_ > paper_listed) {
      if (Status read = ForEachIdLine(data_, DataFile::kPaperInfo, false, ahead_, list_paper);
          !read.ok()) {
        return read;
      }
    }
    if (area_ids_ > area_listed) {
      if (Status read = ForEachIdLine(data_, DataFile::kImagingArea, false, ahead_, list_area);
          !read.ok()) {
        return read;
      }
    }
    return write_error_ != 0 ? Status::Error(write_error_) : Status();
  }

 private:
  uint64_t FileSize(DataFile file) const { return data_.FileBytes(file); }

  void Write(std::string_view name, std::string_view id, bool in_func, uint8_t flags) {
    int32_t width, height;
    SizeFromId(id, &width, &height);
    if (flags & kInArea) {
      if (uint64_t word; IdTable::ToWord(id, &word)) {
        auto at = std::lower_bound(sizes_.begin(), sizes_.end(), SizeException{word, 0, 0});
        if (at != sizes_.end() && at->word == word) width = at->width, height = at->height;
      } else {
        ids_.LongSize(id, &width, &height);
      }
    }
    line_ = Printable(name);
    line_ += '\t';
    line_ += std::to_string(width);
    line_ += 'x';
    line_ += std::to_string(height);
    line_ += '\t';
    line_ += id;
    line_ += '\t';
    AppendState(&line_, data_.model(), in_func, flags & kInPaper, flags & kInArea);
    line_ += '\n';
    if (write_error_ == 0 && WriteAll(line_.data(), line_.size(), out_) != line_.size()) {
      write_error_ = errno != 0 ? errno : EIO;
    }
  }

  const DataSet& data_;
  FILE* out_;
  IdTable ids_;
  const std::function<void(std::string_view)> ahead_ = [this](std::string_view id) {
    ids_.Prefetch(id);
  };
  std::vector<SizeException> sizes_;
  size_t paper_ids_ = 0, area_ids_ = 0;  // identifiers each file holds, each once
  std::string line_;
  int write_error_ = 0;
};

}  // namespace

Status ListFormats(const DataSet& data, FILE* out) {
  try {
    return Lister(data, out).Run();
  } catch (const std::bad_alloc&) {
    return Status::Error(ENOMEM);
  }
}
