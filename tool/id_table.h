#ifndef TOOL_ID_TABLE_H_
#define TOOL_ID_TABLE_H_

// The listing's table of format identifiers, found through a hash keyed at
// random for each run: no file can be made whose identifiers collide.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "tool/format_id.h"

// A key no one can know in advance.
void RandomKey(uint64_t key[2]);

// One 64-bit word mixed under the key (k0, k1): two multiply-xorshift
// rounds, each with half of the key, so that every bit of the word and of
// the key reaches the high bits that pick a slot. Inline, for the
// listing's inner loop; 64-bit arithmetic only, so that 32-bit x86 computes
// the same.
inline uint64_t KeyedMix(uint64_t k0, uint64_t k1, uint64_t word) {
  uint64_t x = word ^ k0;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 31;
  x ^= k1;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 29);
}

// The word an identifier of 12 to 15 hex digits is kept as, read in the same
// pass that finds it: the digits' value, offset by the number of digits so
// that "KsL0..." and "KsL..." differ, below 2^61.
inline uint64_t WordOfDigits(std::string_view digits) {
  uint64_t value = 0;
  for (char c : digits) value = value * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'A' + 10);
  for (size_t d = kMinIdDigits; d < digits.size(); ++d) value += uint64_t{1} << (4 * d);
  return value;
}

// Identifiers, each once, with a few bits of flags. An identifier of 12 to
// 15 hex digits (widths below 1 048 576 mm: every real one) is one 64-bit
// word in an open-addressing table with a keyed hash, at most four fifths
// full (about 12 bytes an identifier when sized ahead); longer ones, which
// only a hand-made line can hold, are kept as text, sorted. |Stats| is told
// of each lookup and each slot looked at (NoTableStats: nothing), so that a
// test can see how the work grows.
struct NoTableStats {
  void Lookup() {}
  void Probe() {}
};

template <typename Stats = NoTableStats>
class BasicIdTable {
 public:
  BasicIdTable() {
    RandomKey(hash_key_);
    Rehash(0);
  }

  // The word of |id|; false for an identifier too long for one.
  static bool ToWord(std::string_view id, uint64_t* word) {
    if (id.size() - 3 > 15) return false;
    *word = WordOfDigits(id.substr(3));
    return true;
  }

  // Room for |count| identifiers; the table grows if more come.
  void Reserve(size_t count) {
    if (count > count_) Rehash(count);
  }

  // Sets |flag| for |id|, entering it first unless |only_if_held|. Returns
  // the flags it had (0: it was not there).
  uint8_t Set(std::string_view id, uint8_t flag, bool only_if_held = false) {
    uint64_t word;
    if (ToWord(id, &word)) return SetWord(word, flag, only_if_held);
    stats_.Lookup();
    auto at = FindLong(id);
    if (at == long_ids_.end() || at->id != id) {
      if (only_if_held) return 0;
      at = long_ids_.insert(at, {std::string(id), 0, 0, 0, false});
    }
    const uint8_t before = at->flags;
    at->flags |= flag;
    return before;
  }

  // The same for the word of a short identifier.
  uint8_t SetWord(uint64_t word, uint8_t flag, bool only_if_held = false) {
    stats_.Lookup();
    if (!only_if_held && 8 * (count_ + 1) > 7 * size_) Rehash(count_ + count_ / 2 + 16);
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

  // Where the search for |word| starts, for a caller to prefetch, so that
  // the slots of several lines are fetched side by side. The prefetch must
  // stand in the caller's loop: GCC takes a function that only prefetches
  // for one without effects, and drops the call.
  const uint64_t* HomeSlot(uint64_t word) const { return slots_.get() + Home(word); }

  const Stats& stats() const { return stats_; }

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

  typename std::vector<LongId>::iterator FindLong(std::string_view id) {
    return std::lower_bound(long_ids_.begin(), long_ids_.end(), id,
                            [](const LongId& a, std::string_view b) { return a.id < b; });
  }

  // The slot where the search for |word| starts: the mix's high 32 bits
  // scaled to the table's size, with no division.
  size_t Home(uint64_t word) const {
    const uint64_t high = KeyedMix(hash_key_[0], hash_key_[1], word) >> 32;
    return static_cast<size_t>((high * static_cast<uint64_t>(size_)) >> 32);
  }

  // The slot that holds |word| (flags aside), or the empty one where it goes.
  uint64_t* Slot(uint64_t word) {
    size_t i = Home(word);
    stats_.Probe();
    while (slots_[i] != 0 && (slots_[i] & kWordMask) != word) {
      i = i + 1 == size_ ? 0 : i + 1;
      stats_.Probe();
    }
    return &slots_[i];
  }

  // Two thirds full for |count| identifiers. The slots come zeroed from
  // calloc: a large table's pages are the kernel's zero pages until
  // written, not zeroed by hand first.
  void Rehash(size_t count) {
    Slots old = std::move(slots_);
    const size_t old_size = size_;
    size_ = count + count / 2 + 16;
    slots_.reset(static_cast<uint64_t*>(calloc(size_, sizeof(uint64_t))));
    if (slots_ == nullptr) throw std::bad_alloc();
    for (size_t i = 0; i < old_size; ++i) {
      if (old[i] != 0) *Slot(old[i] & kWordMask) = old[i];
    }
  }

  struct Free {
    void operator()(uint64_t* slots) const { free(slots); }
  };
  using Slots = std::unique_ptr<uint64_t[], Free>;

  uint64_t hash_key_[2] = {0, 0};
  Slots slots_;
  size_t size_ = 0;  // slots
  size_t count_ = 0;
  std::vector<LongId> long_ids_;
  Stats stats_;
};

using IdTable = BasicIdTable<>;

#endif  // TOOL_ID_TABLE_H_
