#include "tool/list_formats.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/test_util.h"
#include "tool/operations.h"

namespace {

class ListFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_.WriteSample();
    ASSERT_EQ(set_.Open(DataSet::Access::kChange, nullptr), 0);
  }

  void Add(const char* name, int32_t width, int32_t height, long micros) {
    QueueTimes({{0, micros}});
    ASSERT_EQ(AddFormat(TestRequest(name, width, height), set_, QueuedTime), kOpDone);
  }

  // Removes the lines of |path| that hold |text|.
  void DropLines(const std::string& path, const std::string& text) {
    std::string content = ReadFile(path), kept;
    for (size_t pos = 0, end; pos < content.size(); pos = end) {
      end = content.find('\n', pos) + 1;
      std::string line = content.substr(pos, end - pos);
      if (line.find(text) == std::string::npos) kept += line;
    }
    WriteFile(path, kept);
  }

  // The listing, and ListFormats' result in |result|.
  std::string List(int* result = nullptr) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    int status = ListFormats(set_, out);
    int error = errno;
    fclose(out);
    std::string listing(text, size);
    free(text);
    errno = error;
    if (result != nullptr) {
      *result = status;
    } else {
      EXPECT_EQ(status, 0);
    }
    return listing;
  }

  TempDir temp_;
  TestData data_{temp_.path()};
  DataSet set_{data_.root, "lx230"};
};

TEST_F(ListFormatsTest, EveryKindOfFormatInExactBytes) {
  Add("Tape 54", 54, 100, 1);
  Add("Wide", 300, 70, 2);
  Add("No area", 29, 70, 3);
  DropLines(data_.area(), "KsL071D04600003");
  Add("Gone", 62, 100, 4);
  DropLines(data_.func(), "KsL043E06400004");
  // Written by an older tool: a tab and a backslash in a name, and an
  // imaging area line whose entries are gone elsewhere.
  WriteFile(data_.func(), ReadFile(data_.func()) + "KsL051D04600005/a\tb\\c\n");
  WriteFile(data_.area(),
            ReadFile(data_.area()) + "KsL0A1D04600006\t:\t4.32\t8.40\t77.76\t189.72\n");
  EXPECT_EQ(List(),
            "No area\t29x70\tKsL071D04600003\tmissing: ImagingArea\n"
            "Wide\t300x70\tKsL0412C04600002\tok\n"
            "Tape 54\t54x100\tKsL073606400001\tok\n"
            "Small\t62x100\tKsL053E0643ABCD\tok\n"
            "a\\x09b\\c\t29x70\tKsL051D04600005\tmissing: paperinflx230pt1, ImagingArea\n"
            "Gone\t62x100\tKsL043E06400004\tmissing: kslx230func\n"
            "\t29x70\tKsL0A1D04600006\tmissing: kslx230func, paperinflx230pt1\n");
}

TEST_F(ListFormatsTest, NoFormatsNoOutputAndAFuncListThatDoesNotOpen) {
  DropLines(data_.func(), "KsL");
  DropLines(data_.paper(), "KsL");
  DropLines(data_.area(), "KsL");
  EXPECT_EQ(List(), "");
  unlink(data_.paper().c_str());  // the others missing only show in the state
  unlink(data_.area().c_str());
  WriteFile(data_.func(), "[CustomTape]\nKsL053E0643ABCD/Small\n");
  EXPECT_EQ(List(), "Small\t62x100\tKsL053E0643ABCD\tmissing: paperinflx230pt1, ImagingArea\n");
  unlink(data_.func().c_str());
  int result = 0;
  errno = 0;
  EXPECT_EQ(List(&result), "");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
