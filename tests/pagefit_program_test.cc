// The page-fit selector run as the print filter runs it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

class PageFitProgramTest : public ::testing::Test {
 protected:
  RunResult Run(const std::string& length, const std::string& page_size_file,
                const char* argv0 = "kspagefit_lx230") {
    return RunProgram(KS_PAGEFIT_BINARY, {argv0, "a1", "a2", "a3", "a4", "a5", length, "psfit",
                                          "in file.ps", "out.ps", page_size_file});
  }
  TempDir dir_;
  std::string sizes_ = dir_ / "pagesize";
};

TEST_F(PageFitProgramTest, PrintsTheFitDecisionWithoutATrailingNewline) {
  WriteFile(sizes_, "*PageSize[82 144]\nother\n");
  RunResult r = Run("600", sizes_);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "PSCOMMAND=psfit\nCMDARGV=-w82.000000 -h144.000000 "
            "1:0@1.0(-0.060000in,0.118110in) in file.ps out.ps");
  EXPECT_EQ(r.err, "");
  // The invocation name plays no part.
  EXPECT_EQ(Run("600", sizes_, "/x/210/anything").out, r.out);
}

TEST_F(PageFitProgramTest, LengthIsReadLikeStrtod) {
  WriteFile(sizes_, "PageSize[82 144]\n");
  EXPECT_EQ(Run("abc", sizes_).out,
            "PSCOMMAND=psfit\nCMDARGV=-w82.000000 -h144.000000 "
            "1:0@1.0(-0.060000in,-1.881890in) in file.ps out.ps");
  EXPECT_EQ(Run("  3e2x", sizes_).out,
            "PSCOMMAND=psfit\nCMDARGV=-w82.000000 -h144.000000 "
            "1:0@1.0(-0.060000in,-0.881890in) in file.ps out.ps");
}

TEST_F(PageFitProgramTest, CopiesWhenTheFirstLineHasNoPageSize) {
  WriteFile(sizes_, "Resolution 300\nPageSize[82 144]\n");
  RunResult r = Run("600", sizes_);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "PSCOMMAND=cp\nCMDARGV=-f in file.ps out.ps");
}

TEST_F(PageFitProgramTest, MissingPageSizeFileIsReportedOnStandardError) {
  RunResult r = Run("600", dir_ / "missing");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR:kspagefit terminates.\n");
}

TEST_F(PageFitProgramTest, WrongArgumentCountIsSilent) {
  WriteFile(sizes_, "PageSize[82 144]\n");
  std::vector<std::string> ten = {"kspagefit_lx230", "1", "2", "3", "4", "5", "600", "c", "i",
                                  "o", sizes_};
  std::vector<std::string> nine(ten.begin(), ten.end() - 1);
  std::vector<std::string> eleven = ten;
  eleven.push_back("extra");
  for (const auto& argv : {nine, eleven}) {
    RunResult r = RunProgram(KS_PAGEFIT_BINARY, argv);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
}

// A page-size line too long to read ends the run of page-size lines, and
// the selector's memory stays bounded whatever the file holds.
TEST_F(PageFitProgramTest, AnEnormousLineEndsThePageSizeLines) {
  // Built and freed before the runs: a forked child's peak memory counts the
  // parent's pages too.
  const auto write = [this](const std::string& before, const std::string& after) {
    WriteFile(sizes_, before + "*PageSize[1 1]" + std::string(64 << 20, ' ') + "\n" + after);
  };
  write("*PageSize[82 144]\n", "*PageSize[9 9]\n");
  RunResult fitted = Run("600", sizes_);
  EXPECT_EQ(fitted.out,
            "PSCOMMAND=psfit\nCMDARGV=-w82.000000 -h144.000000 "
            "1:0@1.0(-0.060000in,0.118110in) in file.ps out.ps");
  write("", "");
  RunResult copied = Run("600", sizes_);
  EXPECT_EQ(copied.out, "PSCOMMAND=cp\nCMDARGV=-f in file.ps out.ps");
  WriteFile(sizes_, "*PageSize[82 144]\n");
  const long usual = Run("600", sizes_).max_rss_kb;
  EXPECT_LT(fitted.max_rss_kb, usual + 4096);
  EXPECT_LT(copied.max_rss_kb, usual + 4096);
}

}  // namespace
