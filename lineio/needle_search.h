#ifndef LINEIO_NEEDLE_SEARCH_H_
#define LINEIO_NEEDLE_SEARCH_H_

#include <cstddef>
#include <string_view>

// Where the first of several needles begins in |text|, from |from| on:
// one pass over the text however many needles there are, so that a copy
// that watches for a name, an identifier and a section header reads each
// byte once. Empty needles are ignored. Returns npos if none is found.
//
// On x86 it compares sixteen (SSE2) or thirty-two (AVX2) positions at a
// time against each needle's first and last bytes and checks only the
// positions where both agree; elsewhere, and for more than four needles,
// it takes the earliest of one memmem per needle.
size_t FindFirstNeedle(std::string_view text, size_t from, const std::string_view* needles,
                       size_t count);

// The ways it can search, each giving the same answer; FindFirstNeedle
// takes the fastest the processor has. A filter the processor lacks is
// not run: the portable way answers instead.
enum class NeedleFilter { kPortable, kSse2, kAvx2 };
bool ProcessorHas(NeedleFilter filter);
size_t FindFirstNeedleWith(NeedleFilter filter, std::string_view text, size_t from,
                           const std::string_view* needles, size_t count);

// Test seams: the way the last search went, and a processor said to lack
// |filter| and every wider one (kPortable: lack nothing).
NeedleFilter LastNeedleFilterForTesting();
void SetProcessorLacksForTesting(NeedleFilter filter);

#endif  // LINEIO_NEEDLE_SEARCH_H_
