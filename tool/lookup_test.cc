#include "tool/lookup.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "lineio/line_reader.h"
#include "tests/test_util.h"
#include "tool/data_set.h"
#include "tool/format_id.h"

namespace {

class FindFormatIdTest : public ::testing::Test {
 protected:
  Status LookUp(const std::string& content, const char* name, std::string* id) {
    WriteFile(data_.func(), content);
    DataSet set(data_.root, "lx230");
    EXPECT_TRUE(set.Open(DataSet::Access::kRead).ok());
    return FindFormatId(set, DataFile::kFuncList, name, id);
  }
  bool Find(const std::string& content, const char* name, std::string* id) {
    return LookUp(content, name, id).ok();
  }
  TempDir dir_;
  TestData data_{dir_.path()};
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
  DataSet set(data_.root, "lx230");
  ASSERT_TRUE(set.Open(DataSet::Access::kRead).ok());
  EXPECT_TRUE(FindFormatId(set, DataFile::kFuncList, "Abc", &id).not_found());
}

// The entry may lie beyond a line too long to read: that is no "not found".
TEST_F(FindFormatIdTest, ALineTooLongToReadIsAFailure) {
  std::string id;
  const std::string entry = "KsL031D0465AAAA/Abc\n";
  EXPECT_TRUE(Find(std::string(kLineMax - 1, 'x') + "\n" + entry, "Abc", &id));
  EXPECT_EQ(LookUp(std::string(kLineMax, 'x') + "\n" + entry, "Abc", &id).error(), EFBIG);
}

// What an interrupted run left: a complete record is carried out, one cut
// short is discarded with the copies it would have named, and anything else
// at the record's name is refused, not followed, and nothing changes.

}  // namespace
