#include "tool/operations.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tool/dir_ops.h"
#include "tests/test_util.h"
#include "tool/format_id.h"

namespace {

class OperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_.WriteSample();
    data_.RecordSpoolerCalls();
    ASSERT_TRUE(set_.Open(DataSet::Access::kChange).ok());
  }

  Status Add(const char* name, int32_t width, int32_t height, long seconds = 0x5,
          long micros = 0x1234) {
    QueueTimes({{seconds, micros}});
    return AddFormat(TestRequest(name, width, height), set_, QueuedTime);
  }
  Status Delete(const char* name) { return DeleteFormat(TestRequest(name), set_); }

  TempDir dir_;
  TestData data_{dir_.path()};
  DataSet set_{data_.root, "lx230"};
};

TEST_F(OperationsTest, AddEntersTheFormatInThreeFiles) {
  ASSERT_TRUE(Add("New Label Format", 29, 70).ok());
  EXPECT_EQ(ReadFile(data_.func()),
            "# media of the LX-230\n[Tape]\nDK29x90\nDK62x100\n[CustomTape]\n"
            "KsL101D04651234/New Label Format\n"
            "KsL053E0643ABCD/Small\n[End]\n");
  EXPECT_EQ(ReadFile(data_.paper()),
            std::string(kSamplePaper) + "KsL101D04651234/New Label Format:\t306\t754\n");
  EXPECT_EQ(ReadFile(data_.area()),
            std::string(kSampleArea) + "KsL101D04651234\t:\t4.32\t8.40\t77.76\t189.72\n");
  EXPECT_EQ(ReadFile(data_.rc()), kSampleRc);  // an add never touches the rc file
  for (const std::string& path : {data_.func(), data_.paper(), data_.area()}) {
    EXPECT_EQ(PermissionBits(path), 0666u) << path;
  }
  EXPECT_EQ(ListDir(data_.inf()).size(), 4u);  // no temporary file left
  EXPECT_EQ(data_.SpoolerCalls(),
            (std::vector<std::vector<std::string>>{
                {"-P", "LX-230", "-d", "New Label Format", "-show", "1"},
                {"-P", "LX-230", "-n", "New Label Format", "-w", "29", "-h", "70", "-specid",
                 "KsL101D04651234", "-show", "1"}}));
}

int commits = 0;
int CountCommits(DirOp op, const char* name) {
  if (op == DirOp::kCreate && std::string(name) == kCommitRecordName) ++commits;
  return 0;
}

// Adding a name that exists replaces the format in one change, after the
// spooler-side tool took both the delete and the add; an rc setting that
// named the old format names the new one, its CRLF ending kept. If the tool
// refuses the new format, the removal alone is made (the spooler side no
// longer holds the old one either).
TEST_F(OperationsTest, AReplaceIsOneChangeAndKeepsTheDefaultMedium) {
  WriteFile(data_.rc(), "Copies=1\r\nMediaSize=KsL053E0643ABCD\r\nNote=KsL053E0643ABCD\r\n");
  commits = 0;
  SetDirOpHookForTesting(CountCommits);
  ASSERT_TRUE(Add("Small", 62, 100, 7, 0x42).ok());
  SetDirOpHookForTesting(nullptr);
  EXPECT_EQ(commits, 1);
  const std::string id = "KsL053E0647" "0042";
  EXPECT_EQ(ReadFile(data_.func()), "# media of the LX-230\n[Tape]\nDK29x90\nDK62x100\n"
                                    "[CustomTape]\n" + id + "/Small\n[End]\n");
  EXPECT_EQ(ReadFile(data_.paper()),
            "DK29x90:\t306\t990\nDK62x100:\t695\t1108\n" + id + "/Small:\t695\t1108\n");
  EXPECT_EQ(ReadFile(data_.area()), "DK29x90\t:\t4.32\t8.40\t77.76\t246.33\n" + id +
                                        "\t:\t4.32\t8.40\t171.16\t274.63\n");
  EXPECT_EQ(ReadFile(data_.rc()),
            "Copies=1\r\nMediaSize=" + id + "\r\nNote=" + id + "\r\n");
  EXPECT_EQ(ListDir(data_.inf()).size(), 4u);

  data_.FailSpoolerAdds(1);
  EXPECT_EQ(Add("Small", 29, 70).kind(), Status::Kind::kSpoolerFailed);
  EXPECT_EQ(ReadFile(data_.func()).find("Small"), std::string::npos);
  EXPECT_EQ(ReadFile(data_.paper()).find("Small"), std::string::npos);
  EXPECT_EQ(ReadFile(data_.area()).find("KsL"), std::string::npos);
  EXPECT_EQ(ReadFile(data_.rc()), "Copies=1\r\nMediaSize=29x90\r\nMediaSize=29x90\r\n");
  EXPECT_EQ(data_.SpoolerCalls().size(), 4u);  // -d, -n; -d, -n refused
}

TEST_F(OperationsTest, AddSpecialWidthAndShortLabel) {
  ASSERT_TRUE(Add("Wide54", 54, 100, 0, 0).ok());
  ASSERT_TRUE(Add("Short", 29, 5, 0, 0).ok());
  std::string paper = ReadFile(data_.paper());
  EXPECT_NE(paper.find("KsL0636064" "00000/Wide54:\t590\t1108\n"), std::string::npos) << paper;
  EXPECT_NE(paper.find("KsL051D00500000/Short:\t306\t-11\n"), std::string::npos) << paper;
  EXPECT_NE(ReadFile(data_.area()).find("KsL063606400000\t:\t4.32\t8.40\t148.52\t274.63\n"),
            std::string::npos);
}

TEST_F(OperationsTest, FuncListEntryGoesAfterEachCustomTapeLine) {
  WriteFile(data_.func(), "[CustomTape]\nold\n[CustomTape] again\n");
  ASSERT_TRUE(Add("N", 29, 70, 0, 0).ok());
  EXPECT_EQ(ReadFile(data_.func()),
            "[CustomTape]\nKsL011D04600000/N\nold\n[CustomTape] again\nKsL011D04600000/N\n");
  WriteFile(data_.func(), "[Tape]\n");
  ASSERT_TRUE(Add("M", 29, 70, 0, 1).ok());
  EXPECT_EQ(ReadFile(data_.func()), "[Tape]\n");  // no section, no entry
  EXPECT_NE(ReadFile(data_.paper()).find("/M:"), std::string::npos);
}

TEST_F(OperationsTest, DeleteRemovesTheFormatEverywhereAndResetsTheRc) {
  WriteFile(data_.rc(), "Copies=1\nMediaSize=KsL053E0643ABCD\nOther KsL053E0643ABCD too\nEnd\n");
  ASSERT_TRUE(Delete("Small").ok());
  EXPECT_EQ(ReadFile(data_.func()),
            "# media of the LX-230\n[Tape]\nDK29x90\nDK62x100\n[CustomTape]\n[End]\n");
  EXPECT_EQ(ReadFile(data_.paper()), "DK29x90:\t306\t990\nDK62x100:\t695\t1108\n");
  EXPECT_EQ(ReadFile(data_.rc()), "Copies=1\nMediaSize=29x90\nOther KsL053E0643ABCD too\nEnd\n");
  EXPECT_EQ(ReadFile(data_.area()), "DK29x90\t:\t4.32\t8.40\t77.76\t246.33\n");
  for (const std::string& path : {data_.func(), data_.paper(), data_.rc(), data_.area()}) {
    EXPECT_EQ(PermissionBits(path), 0666u) << path;
  }
  EXPECT_EQ(ListDir(data_.inf()).size(), 4u);
  EXPECT_EQ(data_.SpoolerCalls(), (std::vector<std::vector<std::string>>{
                                      {"-P", "LX-230", "-d", "Small", "-show", "1"}}));
}

TEST_F(OperationsTest, AddThenDeleteRestoresTheDataSet) {
  std::vector<std::string> before = data_.Snapshot();
  ASSERT_TRUE(Add("Round trip", 40, 60).ok());
  ASSERT_TRUE(Delete("Round trip").ok());
  EXPECT_EQ(data_.Snapshot(), before);
}

// A run interrupted under an older version could leave a format in some
// files only, or under two identifiers: a delete takes it whole.
TEST_F(OperationsTest, AFormatHalfEnteredGoesAsAWhole) {
  WriteFile(data_.func(), "[CustomTape]\nKsL03AAAAAAAAAAA/Abc\nkeep\n");
  WriteFile(data_.paper(), "KsL03BBBBBBBBBBB/Abc:\t1\t2\nKsL03CCCCCCCCCCC/Cde:\t1\t2\n");
  WriteFile(data_.area(), "KsL03AAAAAAAAAAA\t:\tgoes\nKsL03BBBBBBBBBBB\t:\tgoes\nother\n");
  WriteFile(data_.rc(), "MediaSize=KsL03BBBBBBBBBBB\n");
  ASSERT_TRUE(Delete("Abc").ok());
  EXPECT_EQ(ReadFile(data_.func()), "[CustomTape]\nkeep\n");
  EXPECT_EQ(ReadFile(data_.paper()), "KsL03CCCCCCCCCCC/Cde:\t1\t2\n");
  EXPECT_EQ(ReadFile(data_.area()), "other\n");
  EXPECT_EQ(ReadFile(data_.rc()), kRcResetLine);

  // Only in the imaging area file, as the listing shows it: by identifier.
  WriteFile(data_.area(), "KsL03DDDDDDDDDDD\t:\tleft\nother\n");
  EXPECT_TRUE(Delete("KsL03DDDDDDDDDDD").ok());
  EXPECT_EQ(ReadFile(data_.area()), "other\n");
  EXPECT_TRUE(Delete("KsL03DDDDDDDDDDD").not_found());
  EXPECT_EQ(data_.SpoolerCalls().back(),
            (std::vector<std::string>{"-P", "LX-230", "-d", "KsL03DDDDDDDDDDD", "-show", "1"}));
}

// A replace reads each file once where the data set is as the tool leaves
// it; where not (the format named under two identifiers, or in one file
// only, or a line of it before its entry), it looks first, and the result
// is the same: every line of the old format goes, the new one comes in once.
TEST_F(OperationsTest, AReplaceOfAFormatHalfEnteredTakesAllOfIt) {
  const std::string a = "KsL03AAAAAAAAAAA", b = "KsL03BBBBBBBBBBB";
  struct Case {
    const char* label;
    std::string func, paper;
    std::string area_left;  // the other identifier's line, where it is not the old format's
  } cases[] = {
      {"two identifiers", "[CustomTape]\n" + a + "/Abc\nkeep\n", b + "/Abc:\t1\t2\n", ""},
      {"paper info only", "[CustomTape]\nkeep\n", b + "/Abc:\t1\t2\n", a + "\t:\tgoes\n"},
      {"a line before its entry", "[CustomTape]\n" + a + "/Old\n" + a + "/Abc\nkeep\n",
       a + "/Abc:\t1\t2\n", b + "\t:\tgoes\n"},
      {"a line after its entry", "[CustomTape]\n" + a + "/Abc\nkeep\n" + a + "\n",
       a + "/Abc:\t1\t2\n", b + "\t:\tgoes\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    WriteFile(data_.func(), c.func);
    WriteFile(data_.paper(), c.paper + "KsL03CCCCCCCCCCC/Cde:\t1\t2\n");
    WriteFile(data_.area(), a + "\t:\tgoes\n" + b + "\t:\tgoes\nother\n");
    WriteFile(data_.rc(), "MediaSize=" + b + "\n");
    ASSERT_TRUE(Add("Abc", 29, 70, 1, 0x99).ok());
    const std::string id = "KsL031D0461" "0099";
    EXPECT_EQ(ReadFile(data_.func()), "[CustomTape]\n" + id + "/Abc\nkeep\n");
    EXPECT_EQ(ReadFile(data_.paper()), "KsL03CCCCCCCCCCC/Cde:\t1\t2\n" + id + "/Abc:\t306\t754\n");
    EXPECT_EQ(ReadFile(data_.area()),
              c.area_left + "other\n" + id + "\t:\t4.32\t8.40\t77.76\t189.72\n");
    EXPECT_EQ(ReadFile(data_.rc()), std::string(c.label) == "two identifiers" ||
                                            std::string(c.label) == "paper info only"
                                        ? "MediaSize=" + id + "\n"
                                        : "MediaSize=" + b + "\n");
    EXPECT_EQ(ListDir(data_.inf()).size(), 4u);
  }
}

// Only lines whose identifier is the deleted one's go: not lines that hold it
// inside a name, nor those of an identifier that extends it.
TEST_F(OperationsTest, DeleteTakesWholeIdentifiersOnly) {
  const std::string narrow = "KsL0412C046AB12", wide = "KsL0412C046AB1234";
  WriteFile(data_.func(), "[CustomTape]\n" + wide + "/Wide\n" + narrow + "/Thin\n" +
                              "KsL131D0465EEEE/ref " + narrow + " \n");
  WriteFile(data_.paper(), narrow + "/Thin:\t1\t2\n" + wide + "/Wide:\t1\t2\n");
  WriteFile(data_.area(), narrow + "\t:\t1\n" + wide + "\t:\t2\n");
  WriteFile(data_.rc(), "MediaSize=" + wide + "\nNote=" + narrow + " old\n");
  ASSERT_TRUE(Delete("Thin").ok());
  EXPECT_EQ(ReadFile(data_.func()),
            "[CustomTape]\n" + wide + "/Wide\nKsL131D0465EEEE/ref " + narrow + " \n");
  EXPECT_EQ(ReadFile(data_.paper()), wide + "/Wide:\t1\t2\n");
  EXPECT_EQ(ReadFile(data_.area()), wide + "\t:\t2\n");
  EXPECT_EQ(ReadFile(data_.rc()), "MediaSize=" + wide + "\nNote=" + narrow + " old\n");
}

// Two adds at times that give one identifier: the second takes the time
// again, so that deleting one format never takes the other.
TEST_F(OperationsTest, AnIdentifierInUseIsNeverWrittenAgain) {
  QueueTimes({{1, 0x77}});
  ASSERT_TRUE(AddFormat(TestRequest("One", 29, 70), set_, QueuedTime).ok());
  QueueTimes({{1, 0x77}, {1, 0x77}, {2, 0x78}});
  ASSERT_TRUE(AddFormat(TestRequest("Two", 29, 70), set_, QueuedTime).ok());
  EXPECT_NE(ReadFile(data_.func()).find("KsL031D04620078/Two\n"), std::string::npos);
  ASSERT_TRUE(Delete("One").ok());
  EXPECT_NE(ReadFile(data_.paper()).find("KsL031D04620078/Two:"), std::string::npos);
  EXPECT_NE(ReadFile(data_.area()).find("KsL031D04620078\t"), std::string::npos);

  // An identifier that only the imaging area or the paper info file still
  // holds (left by hand, or by an older version) is in use too.
  WriteFile(data_.area(), ReadFile(data_.area()) + "KsL031D04630079\t:\t4.32\t8.40\t1\t1\n");
  WriteFile(data_.paper(), ReadFile(data_.paper()) + "KsL031D0464007A/Old:\t1\t1\n");
  QueueTimes({{3, 0x79}, {4, 0x7A}, {5, 0x7B}});
  ASSERT_TRUE(AddFormat(TestRequest("Ten", 29, 70), set_, QueuedTime).ok());
  EXPECT_NE(ReadFile(data_.func()).find("KsL031D0465007B/Ten\n"), std::string::npos);

  QueueTimes({{2, 0x78}});  // taken however often the time is read
  EXPECT_EQ(AddFormat(TestRequest("Six", 29, 70), set_, QueuedTime).error(), EEXIST);
}

// The general way (a format named under two identifiers) checks a new
// identifier against every file that holds entries, as the one pass does.
// (The one pass gives up at the paper info file, before it reaches the
// imaging area file that holds the first identifier it tried.)
TEST_F(OperationsTest, TheGeneralWayChecksANewIdentifierInEveryFile) {
  WriteFile(data_.func(), "[CustomTape]\nKsL03AAAAAAAAAAA/Abc\n");
  WriteFile(data_.paper(), "KsL03BBBBBBBBBBB/Abc:\t1\t2\n");
  WriteFile(data_.area(), "KsL031D04610001\t:\t4.32\t8.40\t1\t1\n");
  QueueTimes({{1, 1}, {1, 1}, {2, 2}});
  ASSERT_TRUE(AddFormat(TestRequest("Abc", 29, 70), set_, QueuedTime).ok());
  EXPECT_EQ(ReadFile(data_.func()), "[CustomTape]\nKsL031D04620002/Abc\n");
}

// A name that is itself an identifier stands, where no entry bears it, for
// the format of that identifier left half entered: an add of it replaces
// that format, as a delete of it removes it.
TEST_F(OperationsTest, AnAddOfANameThatIsAnIdentifierTakesTheFormatOfIt) {
  const std::string id = "KsL0F1D04600001";
  WriteFile(data_.area(), ReadFile(data_.area()) + id + "\t:\t4.32\t8.40\tleft\n");
  ASSERT_TRUE(Add(id.c_str(), 29, 70, 1, 2).ok());
  EXPECT_EQ(ReadFile(data_.area()).find(id + "\t:\t4.32\t8.40\tleft"), std::string::npos);
  EXPECT_NE(ReadFile(data_.func()).find("KsL0F1D04610002/" + id + "\n"), std::string::npos);
}

// Two entries of one name: the first is the format, for a delete and a
// replace alike, in one pass; the second and its lines stay.
TEST_F(OperationsTest, TheFirstEntryOfANameIsTheFormat) {
  const std::string first = "KsL03AAAAAAAAAAA", second = "KsL03BBBBBBBBBBB";
  for (bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replace" : "delete");
    WriteFile(data_.func(), "[CustomTape]\n" + first + "/Abc\n" + second + "/Abc\n");
    WriteFile(data_.paper(), first + "/Abc:\t1\t2\n" + second + "/Abc:\t1\t2\n");
    WriteFile(data_.area(), first + "\t:\t1\n" + second + "\t:\t2\n");
    ASSERT_TRUE((replace ? Add("Abc", 29, 70, 1, 1) : Delete("Abc")).ok());
    const std::string added = replace ? "KsL031D04610001/Abc\n" : "";
    EXPECT_EQ(ReadFile(data_.func()), "[CustomTape]\n" + added + second + "/Abc\n");
    EXPECT_EQ(ReadFile(data_.paper()).find(first), std::string::npos);
    EXPECT_NE(ReadFile(data_.paper()).find(second + "/Abc"), std::string::npos);
    EXPECT_EQ(ReadFile(data_.area()).substr(0, second.size() + 5), second + "\t:\t2\n");
  }
  // The paper info file names the second only: both go, whole.
  WriteFile(data_.func(), "[CustomTape]\n" + first + "/Abc\n" + second + "/Abc\n");
  WriteFile(data_.paper(), second + "/Abc:\t1\t2\n");
  WriteFile(data_.area(), first + "\t:\t1\n" + second + "\t:\t2\nother\n");
  ASSERT_TRUE(Delete("Abc").ok());
  EXPECT_EQ(ReadFile(data_.func()), "[CustomTape]\n");
  EXPECT_EQ(ReadFile(data_.paper()), "");
  EXPECT_EQ(ReadFile(data_.area()), "other\n");
}

TEST_F(OperationsTest, DeleteOfAnUnknownNameChangesNothing) {
  std::vector<std::string> before = data_.Snapshot();
  EXPECT_TRUE(Delete("Nobody").not_found());
  EXPECT_EQ(data_.Snapshot(), before);
  EXPECT_EQ(data_.SpoolerCalls().size(), 1u);  // the spooler-side tool was still asked
}

TEST_F(OperationsTest, SpoolerFailureTouchesNoDataFile) {
  std::vector<std::string> before = data_.Snapshot();
  data_.FailSpooler(1);
  EXPECT_EQ(Delete("Small").kind(), Status::Kind::kSpoolerFailed);
  EXPECT_EQ(Add("New", 29, 70).kind(), Status::Kind::kSpoolerFailed);
  EXPECT_EQ(data_.Snapshot(), before);
  EXPECT_EQ(PermissionBits(data_.func()), 0644u);
}

TEST_F(OperationsTest, ModelWithoutRcFileStillDeletesEverywhere) {
  unlink(data_.rc().c_str());
  ASSERT_TRUE(Delete("Small").ok());
  EXPECT_EQ(ReadFile(data_.area()), "DK29x90\t:\t4.32\t8.40\t77.76\t246.33\n");
  EXPECT_FALSE(Exists(data_.rc()));
  ASSERT_TRUE(Add("Small", 62, 100).ok());
}

TEST_F(OperationsTest, AFailureAtTheLastFileChangesNoFile) {
  const std::vector<std::string> before = data_.Snapshot();
  unlink(data_.area().c_str());
  ASSERT_EQ(mkdir(data_.area().c_str(), 0777), 0);
  EXPECT_EQ(Add("New", 29, 70).error(), EISDIR);
  EXPECT_EQ(Delete("Small").kind(), Status::Kind::kError);
  rmdir(data_.area().c_str());
  WriteFile(data_.area(), kSampleArea);
  EXPECT_EQ(data_.Snapshot(), before);
  EXPECT_EQ(PermissionBits(data_.func()), 0644u);
  EXPECT_EQ(ListDir(data_.inf()).size(), 4u);  // no copy, no record

  // A func list that is refused is no "not found": the format could be there.
  unlink(data_.func().c_str());
  ASSERT_EQ(symlink(data_.paper().c_str(), data_.func().c_str()), 0);
  EXPECT_EQ(Delete("Small").error(), ELOOP);
  unlink(data_.func().c_str());
  WriteFile(data_.func(), kSampleFunc, 0640);  // others may not read it
  EXPECT_EQ(Delete("Small").error(), EACCES);
}

TEST_F(OperationsTest, WideFormatsAreReplacedAndDeletedLikeOthers) {
  ASSERT_TRUE(Add("Wide", 300, 70, 1, 1).ok());
  ASSERT_TRUE(Delete("Wide").ok());
  ASSERT_TRUE(Add("Wide", 300, 70, 2, 2).ok());
  std::string func = ReadFile(data_.func());
  EXPECT_EQ(func.find("KsL0412C0461"), std::string::npos);
  EXPECT_NE(func.find("KsL0412C0462"), std::string::npos);
}

}  // namespace
