#include "lineio/line_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "lineio/write_all.h"
#include "tests/test_util.h"

namespace {

// Reads every line of |content| through a real stream.
std::vector<std::string> Lines(const std::string& content) {
  FILE* f = fmemopen(const_cast<char*>(content.data()), content.size(), "r");
  std::vector<std::string> lines;
  LineBuffer line;
  ssize_t n;
  while ((n = ReadLine(&line, f)) > 0) {
    EXPECT_EQ(line.data[n], '\0');
    lines.emplace_back(line.data, static_cast<size_t>(n));
  }
  EXPECT_EQ(n, 0);
  fclose(f);
  return lines;
}

TEST(ReadLineTest, KeepsNewlinesAndAnUnterminatedLastLine) {
  EXPECT_EQ(Lines("a\n\nbc"), (std::vector<std::string>{"a\n", "\n", "bc"}));
  EXPECT_TRUE(Lines("").empty());
}

TEST(ReadLineTest, ReadsLinesOfAnyLengthWhole) {
  std::string exact(1022, 'x');  // 1023 bytes with the newline
  std::string longer(200000, 'y');
  EXPECT_EQ(Lines(exact + "\n" + longer + "\nz\n"),
            (std::vector<std::string>{exact + "\n", longer + "\n", "z\n"}));
}

TEST(ReadLineTest, KeepsBytesAfterAZeroByteButSearchesOnlyBeforeIt) {
  std::string content("ab\0PageSize\n", 12);
  FILE* f = fmemopen(content.data(), content.size(), "r");
  LineBuffer line;
  ASSERT_EQ(ReadLine(&line, f), 12);
  EXPECT_EQ(std::string(line.data, line.length), content);
  EXPECT_TRUE(LineContains(line, "ab"));
  EXPECT_FALSE(LineContains(line, "PageSize"));
  fclose(f);
}

TEST(ReadLineTest, ReportsAReadErrorAsAnError) {
  FILE* f = fopen("/proc/self/mem", "r");  // reading offset 0 fails with EIO
  ASSERT_NE(f, nullptr);
  LineBuffer line;
  EXPECT_EQ(ReadLine(&line, f), -1);
  EXPECT_NE(errno, 0);
  fclose(f);
}

TEST(WriteAllTest, WritesEverythingOrReportsTheShortfall) {
  TempDir dir;
  FILE* f = fopen((dir / "out").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::string big(100000, 'x');
  EXPECT_EQ(WriteAll(big.data(), big.size(), f), big.size());
  EXPECT_EQ(WriteAll("", 0, f), 0u);
  fclose(f);
  EXPECT_EQ(ReadFile(dir / "out"), big);

  // A device that takes nothing: the loop ends instead of spinning.
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  setvbuf(full, nullptr, _IONBF, 0);
  errno = 0;
  EXPECT_EQ(WriteAll("abc", 3, full), 0u);
  EXPECT_EQ(errno, ENOSPC);
  fclose(full);
}

}  // namespace
