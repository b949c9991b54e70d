#include "tool/list_formats.h"

#include <sys/random.h>
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

namespace {

uint64_t Rotate(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

// SipHash-1-3 of one 64-bit word under the key (k0, k1): with a key drawn
// at random for each run, no file can be made whose identifiers collide.
inline uint64_t SipHash(uint64_t k0, uint64_t k1, uint64_t word) {
  uint64_t v0 = k0 ^ 0x736f6d6570736575ull, v1 = k1 ^ 0x646f72616e646f6dull;
  uint64_t v2 = k0 ^ 0x6c7967656e657261ull, v3 = k1 ^ 0x7465646279746573ull;
  auto round = [&] {
    v0 += v1, v1 = Rotate(v1, 13), v1 ^= v0, v0 = Rotate(v0, 32);
    v2 += v3, v3 = Rotate(v3, 16), v3 ^= v2;
    v0 += v3, v3 = Rotate(v3, 21), v3 ^= v0;
    v2 += v1, v1 = Rotate(v1, 17), v1 ^= v2, v2 = Rotate(v2, 32);
  };
  for (uint64_t m : {word, uint64_t{8} << 56}) {  // the word, then its length
    v3 ^= m;
    round();
    v0 ^= m;
  }
  v2 ^= 0xff;
  round(), round(), round();
  return v0 ^ v1 ^ v2 ^ v3;
}

void RandomKey(uint64_t key[2]) {
  if (getrandom(key, 2 * sizeof key[0], GRND_NONBLOCK) == 2 * sizeof key[0]) return;
  // Kernels before 3.17 have no getrandom: a key an attacker cannot know
  // in advance does as well here.
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  key[0] ^= static_cast<uint64_t>(ts.tv_nsec) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(ts.tv_sec);
  key[1] ^= static_cast<uint64_t>(getpid()) << 32 ^ reinterpret_cast<uintptr_t>(&ts);
}

// Slots looked at, and identifiers looked up, by every listing so far.
size_t probes = 0, lookups = 0;

// Which data files hold an identifier, and whether it was listed already.
enum Flag : uint8_t { kInPaper = 1, kInArea = 2, kListed = 4 };

// The identifiers of the paper info and imaging area files, each once, with
// their flags. An identifier of 12 to 15 hex digits (widths below 1 048 576
// mm: every real one) is one 64-bit word in an open-addressing table with a
// keyed hash, about 9 bytes a format; longer ones, which only a hand-made
// line can hold, are kept as text, sorted.
class IdTable {
 public:
  IdTable() { RandomKey(hash_key_); }

  // The word an identifier of at most 15 digits is kept as: the digits'
  // value, offset by the number of digits so that "KsL0..." and "KsL..."
  // differ, below 2^61. False for a longer identifier.
  static bool ToWord(std::string_view id, uint64_t* word) {
    const size_t digits = id.size() - 3;
    if (digits > 15) return false;
    uint64_t value = 0;
    for (char c : id.substr(3)) {
      value = value * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'A' + 10);
    }
    for (size_t d = kMinIdDigits; d < digits; ++d) value += uint64_t{1} << (4 * d);
    *word = value;
    return true;
  }

  // Room for |count| identifiers; the table grows if more come.
  void Reserve(size_t count) { Rehash(count); }

  // Sets |flag| for |id|, entering it first unless |only_if_held|. Returns
  // the flags it had (0: it was not there).
  uint8_t Set(std::string_view id, uint8_t flag, bool only_if_held = false) {
    ++lookups;
    uint64_t word;
    if (!ToWord(id, &word)) {
      auto at = FindLong(id);
      if (at == long_ids_.end() || at->id != id) {
        if (only_if_held) return 0;
        at = long_ids_.insert(at, {std::string(id), 0, 0, 0, false});
      }
      const uint8_t before = at->flags;
      at->flags |= flag;
      return before;
    }
    if (!only_if_held && 10 * (count_ + 1) > 9 * slots_.size()) Rehash(2 * count_ + 16);
    uint64_t* slot = Slot(word);
    if (*slot == 0) {
      if (only_if_held) return 0;
      *slot = word;
      ++count_;
    }
    const uint8_t before = static_cast<uint8_t>(*slot >> kFlagShift);
    *slot |= static_cast<uint64_t>(flag) << kFlagShift;
    return before;
  }

  // The flags of |id|; 0 if neither file holds it.
  uint8_t Flags(std::string_view id) { return Set(id, 0, true); }

  // Starts fetching the slot of |id| from memory.
  void Prefetch(std::string_view id) const {
    uint64_t word;
    if (ToWord(id, &word)) __builtin_prefetch(&slots_[Home(word)]);
  }

  // A size for a long identifier (the short ones' are kept by the caller).
  void SetLongSize(std::string_view id, int32_t width, int32_t height) {
    auto at = FindLong(id);
    *at = {at->id, at->flags, width, height, true};
  }
  bool LongSize(std::string_view id, int32_t* width, int32_t* height) {
    auto at = FindLong(id);
    if (at == long_ids_.end() || at->id != id || !at->has_size) return false;
    *width = at->width;
    *height = at->height;
    return true;
  }

 private:
  static constexpr int kFlagShift = 61;  // a stored word has a flag: 0 is an empty slot
  static constexpr uint64_t kWordMask = (uint64_t{1} << kFlagShift) - 1;

  struct LongId {
    std::string id;
    uint8_t flags;
    int32_t width, height;
    bool has_size;
  };

  std::vector<LongId>::iterator FindLong(std::string_view id) {
    return std::lower_bound(long_ids_.begin(), long_ids_.end(), id,
                            [](const LongId& a, std::string_view b) { return a.id < b; });
  }

  // The slot that holds |word| (flags aside), or the empty one where it goes.
  size_t Home(uint64_t word) const {
    return static_cast<size_t>(SipHash(hash_key_[0], hash_key_[1], word) % slots_.size());
  }

  uint64_t* Slot(uint64_t word) {
    size_t i = Home(word);
    ++probes;
    while (slots_[i] != 0 && (slots_[i] & kWordMask) != word) {
      i = i + 1 == slots_.size() ? 0 : i + 1;
      ++probes;
    }
    return &slots_[i];
  }

  void Rehash(size_t count) {
    std::vector<uint64_t> old = std::move(slots_);
    slots_.assign(count + count / 8 + 16, 0);  // at most about 90 % full
    for (uint64_t word : old) {
      if (word != 0) *Slot(word & kWordMask) = word;
    }
  }

  uint64_t hash_key_[2] = {0, 0};
  std::vector<uint64_t> slots_;
  size_t count_ = 0;
  std::vector<LongId> long_ids_;
};

// Calls |line_fn| with each line of |file| that holds an identifier, and
// that identifier, in file order. |ahead| sees each identifier a few lines
// before |line_fn| does, so that the table slots they need are fetched from
// memory side by side instead of one after the other. A file that does not
// exist holds none, unless |must_open|. False with errno set on a failure.
template <typename AheadFn, typename LineFn>
bool ForEachIdLine(const DataSet& data, DataFile file, bool must_open, AheadFn ahead,
                   LineFn line_fn) {
  FILE* in = data.OpenForReading(file);
  if (in == nullptr) return !must_open && errno == ENOENT;
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
    for (size_t pos = 0; FindLineContaining(block, pos, "KsL", &span); pos = span.end) {
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
  errno = error;
  return error == 0;
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

  int Run() {
    // Room for the identifiers of the larger file: where the two agree,
    // that is all of them.
    size_t paper_ids = 0, area_ids = 0;
    auto none = [](std::string_view) {};
    if (!ForEachIdLine(data_, DataFile::kPaperInfo, false, none,
                       [&](std::string_view, std::string_view) { ++paper_ids; }) ||
        !ForEachIdLine(data_, DataFile::kImagingArea, false, none,
                       [&](std::string_view, std::string_view) { ++area_ids; })) {
      return -1;
    }
    ids_.Reserve(std::max(paper_ids, area_ids));
    // The size of an identifier is its first imaging area line's.
    auto add_area = [this](std::string_view text, std::string_view id) {
      if (ids_.Set(id, kInArea) & kInArea) return;
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
    auto add_paper = [this](std::string_view, std::string_view id) { ids_.Set(id, kInPaper); };
    if (!ForEachIdLine(data_, DataFile::kImagingArea, false, ahead_, add_area) ||
        !ForEachIdLine(data_, DataFile::kPaperInfo, false, ahead_, add_paper)) {
      return -1;
    }
    std::sort(sizes_.begin(), sizes_.end());

    // Once to see which identifiers the func list has (and that it reads
    // whole), once to list its entries.
    auto mark = [this](std::string_view text, std::string_view id) {
      std::string_view name;
      if (EntryNameIn(text, id, &name)) ids_.Set(id, kListed, true);
    };
    auto list = [this](std::string_view text, std::string_view id) {
      std::string_view name;
      if (EntryNameIn(text, id, &name)) Write(name, id, true, ids_.Flags(id));
    };
    if (!ForEachIdLine(data_, DataFile::kFuncList, true, ahead_, mark) ||
        !ForEachIdLine(data_, DataFile::kFuncList, true, ahead_, list)) {
      return -1;
    }
    // What the func list lacks, each identifier once: by the paper info
    // file's first line of it (which names it), then by the imaging area's.
    auto list_paper = [this](std::string_view text, std::string_view id) {
      const uint8_t flags = ids_.Set(id, kListed);
      if (flags & kListed) return;
      std::string_view name;
      if (!EntryNameIn(text, id, &name)) name = {};
      Write(name, id, false, flags);
    };
    auto list_area = [this](std::string_view, std::string_view id) {
      const uint8_t flags = ids_.Set(id, kListed);
      if (!(flags & kListed)) Write({}, id, false, flags);
    };
    if (!ForEachIdLine(data_, DataFile::kPaperInfo, false, ahead_, list_paper) ||
        !ForEachIdLine(data_, DataFile::kImagingArea, false, ahead_, list_area)) {
      return -1;
    }
    if (write_error_ == 0) return 0;
    errno = write_error_;
    return -1;
  }

 private:
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
  std::string line_;
  int write_error_ = 0;
};

}  // namespace

void ListingWorkForTesting(size_t* probes_so_far, size_t* lookups_so_far) {
  *probes_so_far = probes;
  *lookups_so_far = lookups;
}

int ListFormats(const DataSet& data, FILE* out) {
  try {
    return Lister(data, out).Run();
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return -1;
  }
}
