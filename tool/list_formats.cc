#include "tool/list_formats.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "lineio/line_blocks.h"
#include "lineio/string_printf.h"
#include "lineio/write_all.h"
#include "tool/data_set.h"
#include "tool/format_id.h"

namespace {

// The identifiers of one file, in file order, with what is known of each,
// and a hash table to find them by. They are kept in one arena, so that a
// data set of many formats costs a few dozen bytes a format.
class IdTable {
 public:
  struct Entry {
    uint64_t hash;
    size_t offset;
    uint32_t length;
    int32_t width = 0, height = 0;  // from an imaging area line
    bool has_size = false;
    bool in_func = false;  // the func list has an entry for it
    bool written = false;  // listed already
  };

  void Add(std::string_view id, int32_t width, int32_t height, bool has_size) {
    entries_.push_back({Hash(id), arena_.size(), static_cast<uint32_t>(id.size()), width,
                        height, has_size});
    arena_ += id;
  }

  // Builds the hash table; of equal identifiers the first in the file is
  // the one found.
  void Index() {
    size_t capacity = 16;
    while (capacity < 2 * entries_.size()) capacity *= 2;
    slots_.assign(capacity, 0);
    for (uint32_t i = 0; i < entries_.size(); ++i) {
      uint32_t* slot = Slot(entries_[i].hash, Id(i));
      if (*slot == 0) *slot = i + 1;
    }
  }

  Entry* Find(std::string_view id) {
    const uint32_t slot = *Slot(Hash(id), id);
    return slot == 0 ? nullptr : &entries_[slot - 1];
  }

  size_t size() const { return entries_.size(); }
  std::string_view Id(size_t i) const {
    return std::string_view(arena_).substr(entries_[i].offset, entries_[i].length);
  }

 private:
  // FNV-1a, its bits mixed: identifiers differ in a few characters, and the
  // table uses the low bits.
  static uint64_t Hash(std::string_view id) {
    uint64_t hash = 14695981039346656037ull;
    for (char c : id) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    return hash ^ (hash >> 33);
  }

  // The slot that holds |id|, or the empty one where it would go.
  uint32_t* Slot(uint64_t hash, std::string_view id) {
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const uint32_t slot = slots_[i];
      if (slot == 0 || (entries_[slot - 1].hash == hash && Id(slot - 1) == id)) return &slots_[i];
    }
  }

  std::vector<Entry> entries_;
  std::string arena_;
  std::vector<uint32_t> slots_;  // entry index + 1, 0 for none
};

// Calls |line_fn| with each line of |file| that holds an identifier, and
// that identifier. A file that does not open holds none, unless |must_open|.
// False with errno set on a failure.
template <typename LineFn>
bool ForEachIdLine(const DataSet& data, DataFile file, bool must_open, LineFn line_fn) {
  FILE* in = data.OpenForReading(file);
  if (in == nullptr) return !must_open && errno == ENOENT;
  LineBlockReader reader(in);
  std::string_view block;
  while (reader.Next(&block)) {
    LineSpan span;
    for (size_t pos = 0; FindLineContaining(block, pos, "KsL", &span); pos = span.end) {
      std::string_view text = block.substr(span.start, span.end - span.start);
      std::string_view id = FormatIdIn(text);
      if (!id.empty()) line_fn(text, id);
    }
  }
  const int error = reader.error();
  fclose(in);
  errno = error;
  return error == 0;
}

// Control bytes as \xNN, so that each format stays one line of four fields.
std::string Printable(std::string_view name) {
  std::string out;
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += StringPrintf("\\x%02x", byte);
    } else {
      out += c;
    }
  }
  return out;
}

class Lister {
 public:
  Lister(const DataSet& data, FILE* out)
      : data_(data),
        out_(out),
        func_name_(DataFileName(data.model(), DataFile::kFuncList)),
        paper_name_(DataFileName(data.model(), DataFile::kPaperInfo)),
        area_name_(DataFileName(data.model(), DataFile::kImagingArea)) {}

  int Run() {
    auto add_area = [this](std::string_view text, std::string_view id) {
      int32_t width = 0, height = 0;
      const bool has_size = SizeFromImagingArea(text, id, &width, &height);
      area_.Add(id, width, height, has_size);
    };
    auto add_paper = [this](std::string_view, std::string_view id) {
      paper_.Add(id, 0, 0, false);
    };
    if (!ForEachIdLine(data_, DataFile::kImagingArea, false, add_area) ||
        !ForEachIdLine(data_, DataFile::kPaperInfo, false, add_paper)) {
      return -1;
    }
    area_.Index();
    paper_.Index();
    // Once to see which identifiers the func list has (and that it reads
    // whole), once to list its entries.
    auto mark = [this](std::string_view text, std::string_view id) {
      std::string_view name;
      if (!EntryNameIn(text, id, &name)) return;
      if (IdTable::Entry* e = paper_.Find(id)) e->in_func = true;
      if (IdTable::Entry* e = area_.Find(id)) e->in_func = true;
    };
    auto list = [this](std::string_view text, std::string_view id) {
      std::string_view name;
      if (EntryNameIn(text, id, &name)) Write(name, id, true);
    };
    if (!ForEachIdLine(data_, DataFile::kFuncList, true, mark) ||
        !ForEachIdLine(data_, DataFile::kFuncList, true, list)) {
      return -1;
    }
    // What the func list lacks, each identifier once: by the paper info
    // file's first line of it (which names it), then by the imaging area's.
    auto list_paper = [this](std::string_view text, std::string_view id) {
      IdTable::Entry* e = paper_.Find(id);
      if (e == nullptr || e->in_func || e->written) return;
      e->written = true;
      std::string_view name;
      if (!EntryNameIn(text, id, &name)) name = {};
      Write(name, id, false);
    };
    if (!ForEachIdLine(data_, DataFile::kPaperInfo, false, list_paper)) return -1;
    for (size_t i = 0; i < area_.size(); ++i) {
      std::string_view id = area_.Id(i);
      IdTable::Entry* e = area_.Find(id);
      if (e->in_func || e->written || paper_.Find(id) != nullptr) continue;
      e->written = true;
      Write({}, id, false);
    }
    if (write_error_ == 0) return 0;
    errno = write_error_;
    return -1;
  }

 private:
  void Write(std::string_view name, std::string_view id, bool in_func) {
    const IdTable::Entry* area = area_.Find(id);
    int32_t width, height;
    if (area != nullptr && area->has_size) {
      width = area->width;
      height = area->height;
    } else {
      SizeFromId(id, &width, &height);
    }
    std::string state;
    auto lacks = [&state](const std::string& file) {
      state += (state.empty() ? "missing: " : ", ") + file;
    };
    if (!in_func) lacks(func_name_);
    if (paper_.Find(id) == nullptr) lacks(paper_name_);
    if (area == nullptr) lacks(area_name_);
    const std::string line =
        StringPrintf("%s\t%dx%d\t%.*s\t%s\n", Printable(name).c_str(), width, height,
                     static_cast<int>(id.size()), id.data(), state.empty() ? "ok" : state.c_str());
    if (write_error_ == 0 && WriteAll(line.data(), line.size(), out_) != line.size()) {
      write_error_ = errno != 0 ? errno : EIO;
    }
  }

  const DataSet& data_;
  FILE* out_;
  const std::string func_name_, paper_name_, area_name_;
  IdTable area_, paper_;
  int write_error_ = 0;
};

}  // namespace

int ListFormats(const DataSet& data, FILE* out) { return Lister(data, out).Run(); }
