#include "tool/operations.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/test_util.h"

namespace {

class OperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_.WriteSample();
    data_.RecordSpoolerCalls();
  }

  int Add(const char* name, int32_t width, int32_t height, long seconds = 0x5,
          long micros = 0x1234) {
    return AddFormatAt(TestRequest(name, width, height), model_dir_, seconds, micros);
  }

  TempDir dir_;
  DataSet data_{dir_.path()};
  ModelDir model_dir_{data_.root, "lx230"};
};

TEST_F(OperationsTest, AddEntersTheFormatInThreeFiles) {
  ASSERT_EQ(Add("New Label Format", 29, 70), kOpDone);
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
                {"-P", "LX-230", "-n", "New Label Format", "-w", "29", "-h", "70", "-specid",
                 "KsL101D04651234", "-show", "1"}}));
}

TEST_F(OperationsTest, AddSpecialWidthAndShortLabel) {
  ASSERT_EQ(Add("Wide54", 54, 100, 0, 0), kOpDone);
  ASSERT_EQ(Add("Short", 29, 5, 0, 0), kOpDone);
  std::string paper = ReadFile(data_.paper());
  EXPECT_NE(paper.find("KsL0636064" "00000/Wide54:\t590\t1108\n"), std::string::npos) << paper;
  EXPECT_NE(paper.find("KsL051D00500000/Short:\t306\t-11\n"), std::string::npos) << paper;
  EXPECT_NE(ReadFile(data_.area()).find("KsL063606400000\t:\t4.32\t8.40\t148.52\t274.63\n"),
            std::string::npos);
}

TEST_F(OperationsTest, FuncListEntryGoesAfterEachCustomTapeLine) {
  WriteFile(data_.func(), "[CustomTape]\nold\n[CustomTape] again\n");
  ASSERT_EQ(Add("N", 29, 70, 0, 0), kOpDone);
  EXPECT_EQ(ReadFile(data_.func()),
            "[CustomTape]\nKsL011D04600000/N\nold\n[CustomTape] again\nKsL011D04600000/N\n");
  WriteFile(data_.func(), "[Tape]\n");
  ASSERT_EQ(Add("M", 29, 70, 0, 0), kOpDone);
  EXPECT_EQ(ReadFile(data_.func()), "[Tape]\n");  // no section, no entry
  EXPECT_NE(ReadFile(data_.paper()).find("/M:"), std::string::npos);
}

TEST_F(OperationsTest, DeleteRemovesTheFormatEverywhereAndResetsTheRc) {
  WriteFile(data_.rc(), "Copies=1\nMediaSize=KsL053E0643ABCD\nOther KsL053E0643ABCD too\nEnd\n");
  ASSERT_EQ(DeleteFormat(TestRequest("Small"), model_dir_), kOpDone);
  EXPECT_EQ(ReadFile(data_.func()),
            "# media of the LX-230\n[Tape]\nDK29x90\nDK62x100\n[CustomTape]\n[End]\n");
  EXPECT_EQ(ReadFile(data_.paper()), "DK29x90:\t306\t990\nDK62x100:\t695\t1108\n");
  EXPECT_EQ(ReadFile(data_.rc()), "Copies=1\nMediaSize=29x90\nMediaSize=29x90\nEnd\n");
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
  ASSERT_EQ(Add("Round trip", 40, 60), kOpDone);
  ASSERT_EQ(DeleteFormat(TestRequest("Round trip"), model_dir_), kOpDone);
  EXPECT_EQ(data_.Snapshot(), before);
}

TEST_F(OperationsTest, DeleteUsesTheIdentifierOfThePaperInfoFile) {
  WriteFile(data_.func(), "[CustomTape]\nKsL03AAAAAAAAAAA/Abc\nkeep\n");
  WriteFile(data_.paper(), "KsL03BBBBBBBBBBB/Abc:\t1\t2\nKsL03AAAAAAAAAAA/kept\n");
  WriteFile(data_.area(), "KsL03AAAAAAAAAAA\t:\tstays\nKsL03BBBBBBBBBBB\t:\tgoes\n");
  ASSERT_EQ(DeleteFormat(TestRequest("Abc"), model_dir_), kOpDone);
  EXPECT_EQ(ReadFile(data_.func()), "[CustomTape]\nkeep\n");
  EXPECT_EQ(ReadFile(data_.paper()), "KsL03AAAAAAAAAAA/kept\n");
  EXPECT_EQ(ReadFile(data_.area()), "KsL03AAAAAAAAAAA\t:\tstays\n");
}

TEST_F(OperationsTest, DeleteOfAnUnknownNameChangesNothing) {
  std::vector<std::string> before = data_.Snapshot();
  EXPECT_EQ(DeleteFormat(TestRequest("Nobody"), model_dir_), kOpNotFound);
  EXPECT_EQ(data_.Snapshot(), before);
  EXPECT_EQ(data_.SpoolerCalls().size(), 1u);  // the spooler-side tool was still asked
}

TEST_F(OperationsTest, NameMissingFromThePaperInfoStopsAfterTheFuncList) {
  WriteFile(data_.paper(), "DK29x90:\t306\t990\n");
  EXPECT_EQ(DeleteFormat(TestRequest("Small"), model_dir_), kOpNotFound);
  EXPECT_EQ(ReadFile(data_.func()).find("Small"), std::string::npos);
  EXPECT_EQ(ReadFile(data_.area()), kSampleArea);
  EXPECT_EQ(ReadFile(data_.rc()), kSampleRc);
}

TEST_F(OperationsTest, SpoolerFailureTouchesNoDataFile) {
  std::vector<std::string> before = data_.Snapshot();
  data_.FailSpooler(1);
  EXPECT_EQ(DeleteFormat(TestRequest("Small"), model_dir_), kOpSpoolerFailed);
  EXPECT_EQ(Add("New", 29, 70), kOpSpoolerFailed);
  EXPECT_EQ(data_.Snapshot(), before);
  EXPECT_EQ(PermissionBits(data_.func()), 0644u);
}

TEST_F(OperationsTest, ModelWithoutRcFileStillDeletesEverywhere) {
  unlink(data_.rc().c_str());
  ASSERT_EQ(DeleteFormat(TestRequest("Small"), model_dir_), kOpDone);
  EXPECT_EQ(ReadFile(data_.area()), "DK29x90\t:\t4.32\t8.40\t77.76\t246.33\n");
  EXPECT_FALSE(Exists(data_.rc()));
  ASSERT_EQ(Add("Small", 62, 100), kOpDone);
}

TEST_F(OperationsTest, OpenFailuresReportErrno) {
  unlink(data_.area().c_str());
  errno = 0;
  EXPECT_EQ(Add("New", 29, 70), kOpOpenFailed);
  EXPECT_EQ(errno, ENOENT);
  // Files handled before the failing one keep their new content.
  EXPECT_NE(ReadFile(data_.paper()).find("/New:"), std::string::npos);
}

TEST_F(OperationsTest, WideFormatsAreReplacedAndDeletedLikeOthers) {
  ASSERT_EQ(Add("Wide", 300, 70, 1, 1), kOpDone);
  ASSERT_EQ(DeleteFormat(TestRequest("Wide"), model_dir_), kOpDone);
  ASSERT_EQ(Add("Wide", 300, 70, 2, 2), kOpDone);
  std::string func = ReadFile(data_.func());
  EXPECT_EQ(func.find("KsL0412C0461"), std::string::npos);
  EXPECT_NE(func.find("KsL0412C0462"), std::string::npos);
}

}  // namespace
