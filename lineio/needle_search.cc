#include "lineio/needle_search.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define NEEDLE_SEARCH_FILTERED 1
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

#if NEEDLE_SEARCH_FILTERED

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

// The filter with SSE2, which every x86-64 and any x86 of this century has.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse2")
#endif
namespace sse2 {
constexpr size_t kWidth = 16;
using Vec = __m128i;
inline Vec Load(const char* at) { return _mm_loadu_si128(reinterpret_cast<const Vec*>(at)); }
inline Vec Splat(char c) { return _mm_set1_epi8(c); }
inline uint32_t Both(Vec block, Vec first, Vec tail, Vec last) {
  return static_cast<uint32_t>(_mm_movemask_epi8(
      _mm_and_si128(_mm_cmpeq_epi8(block, first), _mm_cmpeq_epi8(tail, last))));
}
#include "lineio/needle_filter.inc"
}  // namespace sse2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// The same with AVX2, twice the width, where the processor has it.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {
constexpr size_t kWidth = 32;
using Vec = __m256i;
inline Vec Load(const char* at) { return _mm256_loadu_si256(reinterpret_cast<const Vec*>(at)); }
inline Vec Splat(char c) { return _mm256_set1_epi8(c); }
inline uint32_t Both(Vec block, Vec first, Vec tail, Vec last) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(
      _mm256_and_si256(_mm256_cmpeq_epi8(block, first), _mm256_cmpeq_epi8(tail, last))));
}
#include "lineio/needle_filter.inc"
}  // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif  // NEEDLE_SEARCH_FILTERED

}  // namespace

namespace {

NeedleFilter lacking = NeedleFilter::kPortable;  // for tests: lacks this and wider
NeedleFilter last_used = NeedleFilter::kPortable;

}  // namespace

NeedleFilter LastNeedleFilterForTesting() { return last_used; }
void SetProcessorLacksForTesting(NeedleFilter filter) { lacking = filter; }

bool ProcessorHas(NeedleFilter filter) {
  if (lacking != NeedleFilter::kPortable && filter >= lacking) return false;
  switch (filter) {
    case NeedleFilter::kPortable: return true;
#if NEEDLE_SEARCH_FILTERED
    case NeedleFilter::kSse2: __builtin_cpu_init(); return __builtin_cpu_supports("sse2");
    case NeedleFilter::kAvx2: __builtin_cpu_init(); return __builtin_cpu_supports("avx2");
#else
    case NeedleFilter::kSse2:
    case NeedleFilter::kAvx2: return false;
#endif
  }
  return false;
}

size_t FindFirstNeedleWith(NeedleFilter filter, std::string_view text, size_t from,
                           const std::string_view* needles, size_t count) {
  if (from >= text.size()) return kNpos;
#if NEEDLE_SEARCH_FILTERED
  // One the processor lacks would end the program: the portable way then.
  if (filter != NeedleFilter::kPortable && count <= kMaxNeedles && ProcessorHas(filter)) {
    std::string_view used[kMaxNeedles];
    size_t n = 0, longest = 0;
    for (size_t i = 0; i < count; ++i) {
      if (needles[i].empty()) continue;
      used[n++] = needles[i];
      if (needles[i].size() > longest) longest = needles[i].size();
    }
    if (n == 0) return kNpos;
    last_used = filter;
    return filter == NeedleFilter::kAvx2 ? avx2::FindFiltered(text, from, used, n, longest)
                                         : sse2::FindFiltered(text, from, used, n, longest);
  }
#endif
  last_used = NeedleFilter::kPortable;
  return FindEach(text, from, needles, count);
}

size_t FindFirstNeedle(std::string_view text, size_t from, const std::string_view* needles,
                       size_t count) {
  // Asked once; FindFirstNeedleWith asks again before it uses one.
  static const NeedleFilter fastest = ProcessorHas(NeedleFilter::kAvx2)   ? NeedleFilter::kAvx2
                                      : ProcessorHas(NeedleFilter::kSse2) ? NeedleFilter::kSse2
                                                                          : NeedleFilter::kPortable;
  return FindFirstNeedleWith(fastest, text, from, needles, count);
}
