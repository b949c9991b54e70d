#include "pagefit/page_fit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Decide(const std::string& line, double length = 600) {
  return PageFitDecision(line, length, "psfit", "in.ps", "out.ps");
}

std::string Kept(const std::string& content) {
  FILE* f = fmemopen(const_cast<char*>(content.data()), content.size(), "rb");
  std::string kept = ReadPageSizeLine(f);
  fclose(f);
  return kept;
}

const char kCopy[] = "PSCOMMAND=cp\nCMDARGV=-f in.ps out.ps";

TEST(PageFitDecisionTest, FitsTheWorkedExample) {
  EXPECT_EQ(Decide("*PageSize[82 144]\n"),
            "PSCOMMAND=psfit\nCMDARGV=-w82.000000 -h144.000000 1:0@1.0(-0.060000in,0.118110in) "
            "in.ps out.ps");
}

TEST(PageFitDecisionTest, OneNumberIsTheWidthAlone) {
  EXPECT_EQ(Decide("PageSize[82]"),
            "PSCOMMAND=psfit\nCMDARGV=-w82.000000 -h0.000000 1:0@1.0(-0.060000in,2.118110in) "
            "in.ps out.ps");
  EXPECT_EQ(Decide("PageSize[0 72]", 0),
            "PSCOMMAND=psfit\nCMDARGV=-w0.000000 -h72.000000 1:0@1.0(-0.060000in,-0.881890in) "
            "in.ps out.ps");
}

TEST(PageFitDecisionTest, CopiesWhenThereIsNoSize) {
  EXPECT_EQ(Decide(""), kCopy);
  EXPECT_EQ(Decide("PageSize 82 144\n"), kCopy);   // no brackets
  EXPECT_EQ(Decide("PageSize[82 144\n"), kCopy);   // no closing bracket
  EXPECT_EQ(Decide("PageSize]82 144[\n"), kCopy);  // closing before opening
  EXPECT_EQ(Decide("PageSize]1 2[3 4\n"), kCopy);  // ... and a size after the opening
  EXPECT_EQ(Decide("PageSize[0 0]\n"), kCopy);
  EXPECT_EQ(Decide("PageSize[x 144]\n"), kCopy);   // the scan stops at once
  EXPECT_EQ(Decide(std::string("PageSize\0[82 144]\n", 19)), kCopy);  // after a zero byte
}

TEST(PageFitDecisionTest, NanAndInfCountAsSizes) {
  EXPECT_EQ(Decide("PageSize[nan 144]"),
            "PSCOMMAND=psfit\nCMDARGV=-wnan -h144.000000 1:0@1.0(-0.060000in,0.118110in) "
            "in.ps out.ps");
  EXPECT_EQ(Decide("PageSize[inf]"),
            "PSCOMMAND=psfit\nCMDARGV=-winf -h0.000000 1:0@1.0(-0.060000in,2.118110in) "
            "in.ps out.ps");
}

TEST(PageFitDecisionTest, SizesAreSinglePrecision) {
  EXPECT_EQ(Decide("PageSize[0.1 0]"),
            "PSCOMMAND=psfit\nCMDARGV=-w0.100000 -h0.000000 1:0@1.0(-0.060000in,2.118110in) "
            "in.ps out.ps");
  EXPECT_EQ(Decide("PageSize[16777217 0]").substr(0, 41),
            "PSCOMMAND=psfit\nCMDARGV=-w16777216.000000");
}

TEST(PageFitDecisionTest, NamesAreInsertedAsTheyAre) {
  EXPECT_EQ(PageFitDecision("", 0, "cmd", "100%d.ps", "%s%n"), "PSCOMMAND=cp\nCMDARGV=-f 100%d.ps %s%n");
  std::string long_name(5000, 'n');
  std::string fit = PageFitDecision("PageSize[1 1]", 0, "%x", long_name.c_str(), "o");
  EXPECT_EQ(fit.substr(0, 13), "PSCOMMAND=%x\n");
  EXPECT_EQ(fit.substr(fit.size() - 5002), long_name + " o");
}

TEST(ReadPageSizeLineTest, KeepsTheLastOfTheLeadingRun) {
  EXPECT_EQ(Kept("PageSize[1 2]\nPageSize[3 4]\nother\nPageSize[5 6]\n"), "PageSize[3 4]\n");
  EXPECT_EQ(Kept("other\nPageSize[5 6]\n"), "");
  EXPECT_EQ(Kept("PageSize[7 8]"), "PageSize[7 8]");
  EXPECT_EQ(Kept(""), "");
  std::string long_line = "PageSize[" + std::string(3000, ' ') + "82 144]\n";
  EXPECT_EQ(Kept(long_line + "x\n"), long_line);
  EXPECT_EQ(Kept("pagesize[1 2]\n"), "");  // case-sensitive
}

}  // namespace
