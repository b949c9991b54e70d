#include "lineio/needle_search.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The first place any needle starts, found the slow way.
size_t Naive(const std::string& text, size_t from, const std::vector<std::string_view>& needles) {
  for (size_t pos = from; pos < text.size(); ++pos) {
    for (std::string_view needle : needles) {
      if (!needle.empty() && text.compare(pos, needle.size(), needle) == 0) return pos;
    }
  }
  return std::string_view::npos;
}

// Every placement of one to six needles (the filtered counts and beyond
// them), near misses that share a needle's first and last bytes, matches
// in the last bytes of the text, and every start: as the slow way finds.
void ExpectFirstMatches(NeedleFilter filter) {
  const std::vector<std::string_view> all = {"KsL091D0460000", "Bench New", "[CustomTape]",
                                             "K0", "x", "", "Bench Nxw"};
  unsigned seed = 7;
  auto next = [&] { return seed = seed * 1103515245 + 12345, (seed >> 16) & 0x7fff; };
  for (size_t count = 1; count <= all.size(); ++count) {
    const std::vector<std::string_view> needles(all.begin(), all.begin() + count);
    for (int round = 0; round < 40; ++round) {
      std::string text;
      const size_t size = next() % 300;
      while (text.size() < size) {
        switch (next() % 6) {
          case 0: text += needles[next() % count]; break;
          case 1: text += "KsL091D0460001/Bench Nev\n"; break;  // near misses
          default: text += static_cast<char>("Ks0[]B \n\t"[next() % 9]); break;
        }
      }
      for (size_t from = 0; from <= text.size(); from += 1 + next() % 5) {
        ASSERT_EQ(FindFirstNeedleWith(filter, text, from, needles.data(), needles.size()),
                  Naive(text, from, needles))
            << "needles " << count << " from " << from << " in \"" << text << "\"";
      }
    }
  }
  const std::string_view none[] = {""};
  EXPECT_EQ(FindFirstNeedleWith(filter, "text", 0, none, 1), std::string_view::npos);
}

// With each filter the processor has (and the one it uses).
TEST(FindFirstNeedleTest, FindsTheFirstMatchOfAnyNeedleWhereverItLies) {
  for (NeedleFilter filter : {NeedleFilter::kPortable, NeedleFilter::kSse2, NeedleFilter::kAvx2}) {
    if (!ProcessorHas(filter)) {
      printf("needle filter %d: not run: this processor lacks it\n", static_cast<int>(filter));
      continue;
    }
    SCOPED_TRACE(static_cast<int>(filter));
    ExpectFirstMatches(filter);
  }
  const std::string_view needles[] = {"b", "c"};
  EXPECT_EQ(FindFirstNeedle("aacb", 0, needles, 2), 2u);
}

// A needle at every place of texts of every length up to four vectors
// (so also in the last byte, which the filter's tail loop must reach), one
// to four needles of one to twelve bytes, and empty needles among them,
// which match nothing: as the slow way finds, with each filter.
TEST(FindFirstNeedleTest, EveryPlaceUpToTheLastByteAndEmptyNeedlesIgnored) {
  const std::vector<std::vector<std::string_view>> sets = {
      {"x"}, {"x", "yz"}, {"", "x"}, {"x", ""}, {"q", "", "x"}, {"abcdefghijkl", "x", "", "pq"}};
  for (NeedleFilter filter : {NeedleFilter::kPortable, NeedleFilter::kSse2, NeedleFilter::kAvx2}) {
    if (!ProcessorHas(filter)) continue;  // said by the test above
    for (const auto& needles : sets) {
      for (size_t size = 0; size <= 4 * 32 + 3; ++size) {
        for (size_t at = 0; at < size; ++at) {
          for (std::string_view needle : needles) {
            if (needle.empty() || at + needle.size() > size) continue;
            std::string text(size, '\0');  // what an empty needle's bytes could be
            text.replace(at, needle.size(), needle);
            ASSERT_EQ(FindFirstNeedleWith(filter, text, 0, needles.data(), needles.size()),
                      Naive(text, 0, needles))
                << "filter " << static_cast<int>(filter) << ", \"" << needle << "\" at " << at
                << " of " << size;
          }
        }
      }
    }
  }
}

// A filter the processor lacks is never run: the portable way answers, and
// so does the program's own choice.
TEST(FindFirstNeedleTest, AFilterTheProcessorLacksIsNotRun) {
  const std::string_view needles[] = {"b", "c"};
  const std::string text = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaacb";
  for (NeedleFilter lacked : {NeedleFilter::kAvx2, NeedleFilter::kSse2}) {
    SetProcessorLacksForTesting(lacked);
    EXPECT_FALSE(ProcessorHas(lacked));
    EXPECT_EQ(FindFirstNeedleWith(NeedleFilter::kAvx2, text, 0, needles, 2), text.size() - 2);
    EXPECT_NE(LastNeedleFilterForTesting(), NeedleFilter::kAvx2);
    if (lacked == NeedleFilter::kSse2) {
      EXPECT_EQ(FindFirstNeedleWith(NeedleFilter::kSse2, text, 0, needles, 2), text.size() - 2);
      EXPECT_EQ(LastNeedleFilterForTesting(), NeedleFilter::kPortable);
    }
  }
  SetProcessorLacksForTesting(NeedleFilter::kPortable);
  if (ProcessorHas(NeedleFilter::kSse2)) {
    FindFirstNeedleWith(NeedleFilter::kSse2, text, 0, needles, 2);
    EXPECT_EQ(LastNeedleFilterForTesting(), NeedleFilter::kSse2);
  }
}

}  // namespace
