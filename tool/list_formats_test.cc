#include "tool/list_formats.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "lineio/string_printf.h"
#include "tests/test_util.h"
#include "tool/format_id.h"
#include "tool/operations.h"

namespace {

class ListFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_.WriteSample();
    ASSERT_TRUE(set_.Open(DataSet::Access::kChange).ok());
  }

  void Add(const char* name, int32_t width, int32_t height, long micros) {
    QueueTimes({{0, micros}});
    ASSERT_TRUE(AddFormat(TestRequest(name, width, height), set_, QueuedTime).ok());
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
  std::string List(Status* result = nullptr) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    Status status = ListFormats(set_, out);
    fclose(out);
    std::string listing(text, size);
    free(text);
    if (result != nullptr) {
      *result = status;
    } else {
      EXPECT_TRUE(status.ok()) << status.Message();
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
  // Written by an older tool or by hand: a tab and a backslash in a name,
  // a name that is the text of a tab's escape, imaging area lines whose
  // entries are gone elsewhere, and lines whose size cannot be read (too
  // few numbers; more digits than any integer holds, too large once read;
  // a size below a millimetre).
  WriteFile(data_.func(), ReadFile(data_.func()) + "KsL051D04600005/a\tb\\c\n" +
                              "KsL061D04600007/a\\x09b\n");
  WriteFile(data_.area(),
            ReadFile(data_.area()) + "KsL0A1D04600006\t:\t4.32\t8.40\t77.76\t189.72\n" +
                "KsL0B1D04600008\t:\t4.32\t8.40\t77.76\n" +
                "KsL0C1D04600009\t:\t4.32\t8.40\t" + std::string(40, '9') + "\t189.72\n" +
                "KsL0D1D0460000A\t:\t4.32\t8.40\t000000000000000000000000077.76\t-8.4\n" +
                "KsL0E1D0460000B\t:\t4.32\t8.40\t000000000000000000000000077.76\t189.72\n");
  EXPECT_EQ(List(),
            "No area\t29x70\tKsL071D04600003\tmissing: ImagingArea\n"
            "Wide\t300x70\tKsL0412C04600002\tok\n"
            "Tape 54\t54x100\tKsL073606400001\tok\n"
            "Small\t62x100\tKsL053E0643ABCD\tok\n"
            "a\\x09b\\\\c\t29x70\tKsL051D04600005\tmissing: paperinflx230pt1, ImagingArea\n"
            "a\\\\x09b\t29x70\tKsL061D04600007\tmissing: paperinflx230pt1, ImagingArea\n"
            "Gone\t62x100\tKsL043E06400004\tmissing: kslx230func\n"
            "\t29x70\tKsL0A1D04600006\tmissing: kslx230func, paperinflx230pt1\n"
            "\t29x70\tKsL0B1D04600008\tmissing: kslx230func, paperinflx230pt1; bad size in "
            "ImagingArea\n"
            "\t29x70\tKsL0C1D04600009\tmissing: kslx230func, paperinflx230pt1; bad size in "
            "ImagingArea\n"
            "\t29x70\tKsL0D1D0460000A\tmissing: kslx230func, paperinflx230pt1; bad size in "
            "ImagingArea\n"
            "\t29x70\tKsL0E1D0460000B\tmissing: kslx230func, paperinflx230pt1\n");
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
  Status result;
  EXPECT_EQ(List(&result), "");
  EXPECT_EQ(result.error(), ENOENT);
}

// Names an older tool (or a hand) wrote with control characters: none may
// reach a terminal as it is, and names in other encodings stay readable.
TEST_F(ListFormatsTest, ControlCharactersOfEveryKindAreEscaped) {
  DropLines(data_.func(), "KsL");
  const char* const names[] = {
      "tab\there\x1f \x7f",       // C0 to its last, 0x1F, and DEL; not a blank
      "raw\x85\x9b" "2J",        // C1 as raw bytes: NEL, CSI
      "utf8\xc2\x85\xc2\x9f",     // C1 as UTF-8 characters U+0085, U+009F (the last)
      "ok\xe2\x80\x9f\xc2\xa0",  // valid UTF-8 around 0x80-0x9F bytes
      "gbk\x81\x40\xd6\xd0",      // a legacy encoding: its 0x81 is no character
  };
  std::string func = "[CustomTape]\n";
  for (const char* name : names) {
    func += MakeFormatId(static_cast<int>(strlen(name)), 29, 70, 0, 1) + "/" + name + "\n";
  }
  WriteFile(data_.func(), func);
  std::string expected;
  const char* const shown[] = {"tab\\x09here\\x1f \\x7f", "raw\\x85\\x9b2J",
                               "utf8\\xc2\\x85\\xc2\\x9f", "ok\xe2\x80\x9f\xc2\xa0",
                               "gbk\\x81\x40\xd6\xd0"};
  for (size_t i = 0; i < std::size(names); ++i) {
    expected += std::string(shown[i]) + "\t29x70\t" +
                MakeFormatId(static_cast<int>(strlen(names[i])), 29, 70, 0, 1) +
                "\tmissing: paperinflx230pt1, ImagingArea\n";
  }
  EXPECT_EQ(List().substr(0, expected.size()), expected);
}

// Out of memory, the listing is an error (ENOMEM) with nothing written,
// never an abort, here where no handler further out would catch it.
TEST_F(ListFormatsTest, OutOfMemoryIsAnErrorNotAnAbort) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit here allows";
#endif
  // The child runs the test afresh (as a new process), so that memory an
  // earlier test freed, still mapped, cannot answer the allocation.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::string paper;
  char line[32];
  for (unsigned i = 0; i < 200000; ++i) {
    snprintf(line, sizeof line, "KsL%012X\n", i);
    paper += line;
  }
  WriteFile(data_.paper(), paper);
  EXPECT_EXIT(
      {
        if (!LimitAddressSpaceToCurrentPlus(256 * 1024)) _exit(77);
        Status result;
        const std::string listing = List(&result);
        _exit(result.error() == ENOMEM && listing.empty() ? 0 : 1);
      },
      [](int status) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
          fprintf(stderr, "no address-space limit binds here\n");
          return true;
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
      },
      "");
}

}  // namespace
