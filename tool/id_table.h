#ifndef TOOL_ID_TABLE_H_
#define TOOL_ID_TABLE_H_

// The listing's table of format identifiers, found through a hash keyed at
// random for each run: no file can be made whose identifiers collide.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tool/format_id.h"

// SipHash-1-3 of one 64-bit word under the key (k0, k1); inline, for the
// listing's inner loop.
inline uint64_t Rotate(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

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

// A key no one can know in advance.
void RandomKey(uint64_t key[2]);

// Identifiers, each once, with a few bits of flags. An identifier of 12 to
// 15 hex digits (widths below 1 048 576 mm: every real one) is one 64-bit
// word in an open-addressing table with a keyed hash, about 9 bytes an
// identifier; longer ones, which only a hand-made line can hold, are kept
// as text, sorted. |Stats| is told of each lookup and each slot looked at
// (NoTableStats: nothing), so that a test can see how the work grows.
struct NoTableStats {
  void Lookup() {}
  void Probe() {}
};

template <typename Stats = NoTableStats>
class BasicIdTable {
 public:
  BasicIdTable() { RandomKey(hash_key_); }

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
    stats_.Lookup();
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

  // The slot that holds |word| (flags aside), or the empty one where it goes.
  size_t Home(uint64_t word) const {
    return static_cast<size_t>(SipHash(hash_key_[0], hash_key_[1], word) % slots_.size());
  }

  uint64_t* Slot(uint64_t word) {
    size_t i = Home(word);
    stats_.Probe();
    while (slots_[i] != 0 && (slots_[i] & kWordMask) != word) {
      i = i + 1 == slots_.size() ? 0 : i + 1;
      stats_.Probe();
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
  Stats stats_;
};

using IdTable = BasicIdTable<>;

#endif  // TOOL_ID_TABLE_H_
