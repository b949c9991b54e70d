#include "lineio/line_blocks.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <string>

#include "lineio/line_reader.h"

namespace {

// A file of the test's own, written afresh by Write.
class TempFile {
 public:
  TempFile() : fd_(fileno(tmpfile_)) {}
  ~TempFile() { fclose(tmpfile_); }
  void Write(const std::string& content) {
    ASSERT_EQ(ftruncate(fd_, 0), 0);
    ASSERT_EQ(pwrite(fd_, content.data(), content.size(), 0), static_cast<ssize_t>(content.size()));
  }
  int fd() const { return fd_; }

 private:
  FILE* tmpfile_ = tmpfile();
  int fd_;
};

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

// From the end, in blocks down to 16 bytes: every run is whole lines, the
// runs put back in order are the file, and a line longer than any may be
// fails with EFBIG.
TEST(ReverseLineBlockReaderTest, HandsOutWholeLinesFromTheEnd) {
  TempFile file;
  unsigned seed = 3;
  for (int round = 0; round < 60; ++round) {
    std::string content;
    const size_t lines = seed % 40;
    for (size_t i = 0; i < lines; ++i) {
      seed = seed * 1103515245 + 12345;
      content += std::string((seed >> 16) % 70, static_cast<char>('a' + i % 26));
      if (i + 1 < lines || seed % 2 != 0) content += '\n';
    }
    file.Write(content);
    for (size_t block : {size_t{16}, size_t{100}, size_t{1} << 20}) {
      ReverseLineBlockReader reader(file.fd(), block);
      std::string again;
      std::string_view run;
      while (reader.Previous(&run)) {
        ASSERT_FALSE(run.empty());
        EXPECT_TRUE(run.back() == '\n' || again.empty()) << round;
        again.insert(0, run);
      }
      EXPECT_EQ(reader.error(), 0);
      EXPECT_EQ(again, content) << "round " << round << ", blocks of " << block;
    }
  }
  file.Write("a\n" + std::string(kLineMax + 1, 'x') + "\nb\n");
  ReverseLineBlockReader reader(file.fd());
  std::string_view run;
  ASSERT_TRUE(reader.Previous(&run));
  EXPECT_EQ(run, "b\n");
  EXPECT_FALSE(reader.Previous(&run));
  EXPECT_EQ(reader.error(), EFBIG);
}

}  // namespace
