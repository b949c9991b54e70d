#include "lineio/needle_search.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define NEEDLE_SEARCH_SSE2 1
#endif

namespace {

constexpr size_t kNpos = std::string_view::npos;

// The earliest match of one memmem per needle: the portable way.
size_t FindEach(std::string_view text, size_t from, const std::string_view* needles,
                size_t count) {
  size_t best = kNpos;
  for (size_t i = 0; i < count; ++i) {
    const std::string_view needle = needles[i];
    if (needle.empty()) continue;
    // A match at or past |best| cannot be the first: look no further.
    size_t end = best == kNpos ? text.size() : best + needle.size() - 1;
    if (end > text.size()) end = text.size();
    if (end - from < needle.size()) continue;
    const void* hit = memmem(text.data() + from, end - from, needle.data(), needle.size());
    if (hit != nullptr) best = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
  }
  return best;
}

#if NEEDLE_SEARCH_SSE2

// Up to this many needles are filtered together; more take the portable way.
constexpr size_t kMaxNeedles = 4;

bool NeedleAt(std::string_view text, size_t pos, std::string_view needle) {
  if (text.size() - pos < needle.size()) return false;
  const char* at = text.data() + pos;
  // Most places the filter lets through differ in the first eight bytes:
  // one load each rules them out without a call.
  if (needle.size() >= 8) {
    uint64_t have, want;
    memcpy(&have, at, 8);
    memcpy(&want, needle.data(), 8);
    if (have != want) return false;
  }
  return memcmp(at, needle.data(), needle.size()) == 0;
}

// The filter for exactly N needles, so that their bytes stay in registers.
template <size_t N>
__attribute__((target("sse2"))) size_t FindFilteredN(std::string_view text, size_t from,
                                                      const std::string_view* used,
                                                      size_t longest) {
  __m128i first[N], last[N];
  for (size_t j = 0; j < N; ++j) {
    first[j] = _mm_set1_epi8(used[j].front());
    last[j] = _mm_set1_epi8(used[j].back());
  }
  const char* base = text.data();
  size_t pos = from;
  // Thirty-two positions at a time while every needle's last byte is in reach.
  while (text.size() >= longest + 31 && pos <= text.size() - longest - 31) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + pos));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + pos + 16));
    uint32_t hits[N];
    uint32_t any = 0;
    // Unrolled, so that the hits stay in registers.
#pragma GCC unroll 4
    for (size_t j = 0; j < N; ++j) {
      const char* to_last = base + pos + used[j].size() - 1;
      const __m128i low_last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to_last));
      const __m128i high_last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to_last + 16));
      const __m128i low_hits =
          _mm_and_si128(_mm_cmpeq_epi8(low, first[j]), _mm_cmpeq_epi8(low_last, last[j]));
      const __m128i high_hits =
          _mm_and_si128(_mm_cmpeq_epi8(high, first[j]), _mm_cmpeq_epi8(high_last, last[j]));
      hits[j] = static_cast<uint32_t>(_mm_movemask_epi8(low_hits)) |
                static_cast<uint32_t>(_mm_movemask_epi8(high_hits)) << 16;
      any |= hits[j];
    }
    while (any != 0) {
      const unsigned bit = static_cast<unsigned>(__builtin_ctz(any));
      for (size_t j = 0; j < N; ++j) {
        if ((hits[j] >> bit & 1) != 0 && NeedleAt(text, pos + bit, used[j])) return pos + bit;
      }
      any &= any - 1;
    }
    pos += 32;
  }
  // The last few positions, one by one.
  for (; pos < text.size(); ++pos) {
    for (size_t j = 0; j < N; ++j) {
      if (base[pos] == used[j].front() && NeedleAt(text, pos, used[j])) return pos;
    }
  }
  return kNpos;
}

size_t FindFiltered(std::string_view text, size_t from, const std::string_view* needles,
                    size_t count) {
  std::string_view used[kMaxNeedles];
  size_t n = 0, longest = 0;
  for (size_t i = 0; i < count; ++i) {
    if (needles[i].empty()) continue;
    used[n++] = needles[i];
    if (needles[i].size() > longest) longest = needles[i].size();
  }
  switch (n) {
    case 0: return kNpos;
    case 1: return FindFilteredN<1>(text, from, used, longest);
    case 2: return FindFilteredN<2>(text, from, used, longest);
    case 3: return FindFilteredN<3>(text, from, used, longest);
    case 4: return FindFilteredN<4>(text, from, used, longest);
    default: return FindEach(text, from, used, n);
  }
}

bool HaveSse2() {
#if defined(__x86_64__)
  return true;
#else
  static const bool have = __builtin_cpu_supports("sse2");
  return have;
#endif
}

#endif  // NEEDLE_SEARCH_SSE2

}  // namespace

size_t FindFirstNeedle(std::string_view text, size_t from, const std::string_view* needles,
                       size_t count) {
  if (from >= text.size()) return kNpos;
#if NEEDLE_SEARCH_SSE2
  if (count <= kMaxNeedles && HaveSse2()) return FindFiltered(text, from, needles, count);
#endif
  return FindEach(text, from, needles, count);
}
