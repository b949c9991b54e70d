#include "lineio/line_blocks.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

TEST(FindLineContainingTest, FindsTheWholeLineOfTheFirstMatch) {
  const std::string lines = "one\ntwo needle x\nthree needle\nlast needle";
  LineSpan span;
  ASSERT_TRUE(FindLineContaining(lines, 0, "needle", &span));
  EXPECT_EQ(lines.substr(span.start, span.end - span.start), "two needle x\n");
  ASSERT_TRUE(FindLineContaining(lines, span.end, "needle", &span));
  EXPECT_EQ(lines.substr(span.start, span.end - span.start), "three needle\n");
  ASSERT_TRUE(FindLineContaining(lines, span.end, "needle", &span));
  EXPECT_EQ(lines.substr(span.start, span.end - span.start), "last needle");
  EXPECT_FALSE(FindLineContaining(lines, span.end, "needle", &span));
  EXPECT_FALSE(FindLineContaining(lines, 0, "", &span));
  EXPECT_FALSE(FindLineContaining(lines, 0, "absent", &span));
}

TEST(FindLineContainingTest, LooksAtALineOnlyUpToItsFirstZeroByte) {
  const std::string lines("a\0needle needle\nneed\0le\nxneedle\n", 32);
  LineSpan span;
  ASSERT_TRUE(FindLineContaining(lines, 0, "needle", &span));
  EXPECT_EQ(lines.substr(span.start, span.end - span.start), "xneedle\n");
  // Of several needles, none counts past a line's zero byte, and one that
  // holds a zero byte matches nothing.
  const std::string_view needles[] = {"le", std::string_view("d\0l", 3)};
  ASSERT_TRUE(FindLineContainingAny(lines, 0, needles, 2, &span));
  EXPECT_EQ(lines.substr(span.start, span.end - span.start), "xneedle\n");
}

TEST(LineBlockReaderTest, HandsOutWholeLinesAndReportsReadErrors) {
  std::string content = std::string(300000, 'a') + "\nb\n" + std::string(700000, 'c');
  FILE* in = fmemopen(content.data(), content.size(), "r");
  LineBlockReader reader(in);
  std::string again;
  std::string_view lines;
  while (reader.Next(&lines)) {
    EXPECT_TRUE(lines.back() == '\n' || again.size() + lines.size() == content.size());
    again += lines;
  }
  EXPECT_EQ(reader.error(), 0);
  EXPECT_TRUE(again == content);
  fclose(in);

  FILE* broken = fopen("/proc/self/mem", "r");  // reading offset 0 fails
  ASSERT_NE(broken, nullptr);
  LineBlockReader failing(broken);
  EXPECT_FALSE(failing.Next(&lines));
  EXPECT_NE(failing.error(), 0);
  fclose(broken);
}

}  // namespace
