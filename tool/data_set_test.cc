#include "tool/data_set.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lineio/line_reader.h"
#include "lineio/string_printf.h"
#include "tests/test_util.h"
#include "tool/label_size.h"

namespace {

TEST(BuildPathTest, FillsTheTemplatesWithTheModel) {
  FormatRequest request{};
  strcpy(request.model, "lx230");
  const std::string root = "/opt/kestrel/Tavlix/";
  ASSERT_TRUE(BuildPath(&request, root, DataFile::kFuncList));
  EXPECT_STREQ(request.path, "/opt/kestrel/Tavlix/lx230/inf/kslx230func");
  ASSERT_TRUE(BuildPath(&request, root, DataFile::kPaperInfo));
  EXPECT_STREQ(request.path, "/opt/kestrel/Tavlix/lx230/inf/paperinflx230pt1");
  ASSERT_TRUE(BuildPath(&request, root, DataFile::kRc));
  EXPECT_STREQ(request.path, "/opt/kestrel/Tavlix/lx230/inf/kslx230rc");
  ASSERT_TRUE(BuildPath(&request, root, DataFile::kImagingArea));
  EXPECT_STREQ(request.path, "/opt/kestrel/Tavlix/lx230/inf/ImagingArea");
  ASSERT_TRUE(BuildPath(&request, root, DataFile::kSpoolerTool));
  EXPECT_STREQ(request.path, "/opt/kestrel/Tavlix/lx230/lpd/kstapefmtcups");
  EXPECT_FALSE(BuildPath(&request, std::string(1100, 'r'), DataFile::kRc));
}

TEST(MakeFormatIdTest, FieldsAndWidths) {
  EXPECT_EQ(MakeFormatId(16, 29, 70, 0x12345, 0xAB1234), "KsL101D04651234");
  EXPECT_EQ(MakeFormatId(1, 1, 0x1FFF, 0xF, 0xFFFF), "KsL0101FFFFFFFF");  // height masked
  EXPECT_EQ(MakeFormatId(32, 255, 1, 0, 0), "KsL20FF00100000");
  EXPECT_EQ(MakeFormatId(5, 256, 70, 0, 0), "KsL0510004600000");    // 16 characters
  EXPECT_EQ(MakeFormatId(5, 2147483647, 70, 0, 0).size(), 21u);
}

class FindFormatIdTest : public ::testing::Test {
 protected:
  Lookup LookUp(const std::string& content, const char* name, std::string* id) {
    WriteFile(data_.func(), content);
    ModelDir dir(data_.root, "lx230");
    return FindFormatId(dir, DataFile::kFuncList, name, id);
  }
  bool Find(const std::string& content, const char* name, std::string* id) {
    return LookUp(content, name, id) == Lookup::kFound;
  }
  TempDir dir_;
  DataSet data_{dir_.path()};
};

TEST_F(FindFormatIdTest, MatchesTheWholeNameOnly) {
  std::string id;
  const std::string func = "[CustomTape]\nKsL101D04651234/New Label Format\n";
  EXPECT_TRUE(Find(func, "New Label Format", &id));
  EXPECT_EQ(id, "KsL101D04651234");
  EXPECT_FALSE(Find(func, "New Label", &id));
  EXPECT_FALSE(Find(func, "New Label Format2", &id));
  EXPECT_FALSE(Find(func, "new label format", &id));
  EXPECT_TRUE(Find("KsL101D04651234/New Label Format:\t306\t754\n", "New Label Format", &id));
}

TEST_F(FindFormatIdTest, FirstEntryWinsAndOnlyTheFirstKsLOfALineCounts) {
  std::string id;
  EXPECT_TRUE(Find("KsL031D0465AAAA/Abc\nKsL031D0465BBBB/Abc\n", "Abc", &id));
  EXPECT_EQ(id, "KsL031D0465AAAA");
  EXPECT_FALSE(Find("note KsL and then KsL031D0465AAAA/Abc\n", "Abc", &id));
  EXPECT_TRUE(Find("xxKsL031D0465AAAA/Abc trailing\n", "Abc", &id));  // anywhere in a line
}

TEST_F(FindFormatIdTest, WideFormatsAreFoundByTheirWholeIdentifier) {
  std::string id;
  std::string wide = MakeFormatId(4, 300, 70, 3, 0x1234);
  EXPECT_TRUE(Find(wide + "/Wide\n", "Wide", &id));
  EXPECT_EQ(id, wide);
  std::string widest = MakeFormatId(4, 2147483647, 9, 3, 0x1234);
  EXPECT_TRUE(Find("x\n" + widest + "/Huge:\t1\t2\n", "Huge", &id));
  EXPECT_EQ(id, widest);
}

TEST_F(FindFormatIdTest, MalformedEntriesNeverMatchNorReadPastTheLine) {
  std::string id;
  EXPECT_FALSE(Find("KsL031D0465AAAA/Ab", "Abc", &id));           // name cut by end of file
  EXPECT_FALSE(Find("KsL031D0465AAAA/Ab\n", "Ab", &id));        // length runs onto newline
  EXPECT_FALSE(Find("KsLFF1D0465AAAA/Abc\n", "Abc", &id));        // length far past the line
  EXPECT_FALSE(Find("KsL0x1D0465AAAA/Abc\n", "Abc", &id));        // "0x" prefix
  EXPECT_FALSE(Find("KsL-31D0465AAAA/Abc\n", "Abc", &id));        // sign
  EXPECT_FALSE(Find("KsL031D0465AAA/Abc\n", "Abc", &id));         // too few digits
  EXPECT_FALSE(Find("KsL031D0465AAAA", "Abc", &id));              // no separator
  EXPECT_FALSE(Find(std::string("KsL031D0465AAAA/A\0c\n", 20), "Abc", &id));  // zero byte
  EXPECT_FALSE(Find("KsL001D0465AAAA/\n", "A", &id));               // empty name
  unlink(data_.func().c_str());
  EXPECT_EQ(FindFormatId(ModelDir(data_.root, "lx230"), DataFile::kFuncList, "Abc", &id),
            Lookup::kNotFound);
}

// The entry may lie beyond a line too long to read: that is no "not found".
TEST_F(FindFormatIdTest, ALineTooLongToReadIsAFailure) {
  std::string id;
  const std::string entry = "KsL031D0465AAAA/Abc\n";
  EXPECT_TRUE(Find(std::string(kLineMax - 1, 'x') + "\n" + entry, "Abc", &id));
  errno = 0;
  EXPECT_EQ(LookUp(std::string(kLineMax, 'x') + "\n" + entry, "Abc", &id), Lookup::kFailed);
  EXPECT_EQ(errno, EFBIG);
}

TEST(LabelSizeTest, WorkedExamples) {
  int32_t w = 0, h = 0;
  ASSERT_TRUE(WidthDots(29, &w));
  ASSERT_TRUE(HeightDots(70, &h));
  EXPECT_EQ(w, 306);
  EXPECT_EQ(h, 754);
  ASSERT_TRUE(WidthDots(54, &w));
  EXPECT_EQ(w, 590);  // the formula would give 601
  ASSERT_TRUE(WidthDots(62, &w));
  EXPECT_EQ(w, 695);
  ASSERT_TRUE(HeightDots(100, &h));
  EXPECT_EQ(h, 1108);
  ASSERT_TRUE(HeightDots(5, &h));
  EXPECT_EQ(h, -11);  // truncated toward zero
  ASSERT_TRUE(HeightDots(6, &h));
  EXPECT_EQ(h, 0);
  EXPECT_FALSE(WidthDots(2147483647, &w));
  EXPECT_FALSE(HeightDots(183000000, &h));

  EXPECT_EQ(StringPrintf("%.2f %.2f %.2f %.2f", kLeftMarginPoints, kBottomMarginPoints,
                         RightEdgePoints(29), TopEdgePoints(70)),
            "4.32 8.40 77.76 189.72");
  EXPECT_EQ(StringPrintf("%.2f %.2f", RightEdgePoints(54), TopEdgePoints(100)), "148.52 274.63");
}

}  // namespace
