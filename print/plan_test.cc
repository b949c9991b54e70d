#include "print/plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

JobInfo Job(JobKind kind, std::optional<PageBox> box) { return {kind, box}; }

// 62 by 100 mm: 175.748 by 283.465 pt, a label length of 1181.102 dots;
// the selector moves the page 0.06 in left and 3 mm up.
const MediumSize kLabel{62, 100};
constexpr double kLeft = -0.06 * 72, kUp = 3 / 25.4 * 72;

TEST(PlanTest, APageThatFitsIsMovedAsTheSelectorSays) {
  PrintPlan plan;
  std::string error;
  ASSERT_TRUE(PlanJob(Job(JobKind::kPostScript, PageBox{0, 0, 82, 144}), kLabel, std::nullopt,
                      &plan, &error));
  EXPECT_NEAR(*plan.width, 175.748, 1e-3);
  EXPECT_NEAR(*plan.height, 283.465, 1e-3);
  EXPECT_NEAR(plan.x, kLeft, 1e-9);
  EXPECT_NEAR(plan.y, kUp, 1e-3);
  EXPECT_EQ(plan.scale, 1);
  // A page of the medium's own size, in fewer decimals, fits too; a length
  // given moves it as the selector computes.
  ASSERT_TRUE(PlanJob(Job(JobKind::kPostScript, PageBox{0, 0, 175.75, 283.47}), kLabel, 600.0,
                      &plan, &error));
  EXPECT_EQ(plan.scale, 1);
  EXPECT_NEAR(plan.y, (600.0 / 300 - 283.465 / 72) * 72 + kUp, 1e-3);
}

// Larger: scaled whole into what stays on the label once moved, centred
// there; a %%BoundingBox's origin taken off, a PDF's not (Ghostscript puts
// its box's origin at the page's).
TEST(PlanTest, ALargerPageIsScaledIntoThePartThatStaysOnTheLabel) {
  const double area_w = 175.748 - 0.06 * 72, area_h = 283.465 - kUp;
  PrintPlan plan;
  std::string error;
  ASSERT_TRUE(PlanJob(Job(JobKind::kPostScript, PageBox{0, 0, 595, 842}), kLabel, std::nullopt,
                      &plan, &error));
  const double s = std::min(area_w / 595, area_h / 842);
  EXPECT_NEAR(plan.scale, s, 1e-6);
  EXPECT_NEAR(plan.x, 0, 1e-6);
  EXPECT_NEAR(plan.y, kUp + (area_h - 842 * s) / 2, 1e-3);
  ASSERT_TRUE(PlanJob(Job(JobKind::kPostScript, PageBox{100, 50, 1100, 550}), kLabel,
                      std::nullopt, &plan, &error));
  const double t = area_w / 1000;
  EXPECT_NEAR(plan.scale, t, 1e-6);
  EXPECT_NEAR(plan.x, -100 * t, 1e-3);
  EXPECT_NEAR(plan.y, kUp + (area_h - 500 * t) / 2 - 50 * t, 1e-3);
  ASSERT_TRUE(PlanJob(Job(JobKind::kPdf, PageBox{100, 50, 1100, 550}), kLabel, std::nullopt,
                      &plan, &error));
  EXPECT_NEAR(plan.x, 0, 1e-6);
  EXPECT_FALSE(plan.fit_first);
  // A PDF whose box is not seen: Ghostscript fits it to the medium, and
  // that is shrunk into the part.
  ASSERT_TRUE(PlanJob(Job(JobKind::kPdf, std::nullopt), kLabel, std::nullopt, &plan, &error));
  EXPECT_TRUE(plan.fit_first);
  EXPECT_NEAR(plan.scale, std::min(area_w / 175.748, area_h / 283.465), 1e-5);
  EXPECT_NEAR(plan.y, kUp, 1e-3);
  // Nothing would stay.
  EXPECT_FALSE(PlanJob(Job(JobKind::kPostScript, PageBox{0, 0, 595, 842}), MediumSize{1.5, 1.5},
                       std::nullopt, &plan, &error));
  EXPECT_EQ(error, "the medium is too small to print on");
  EXPECT_FALSE(PlanJob(Job(JobKind::kPostScript, std::nullopt), MediumSize{1e40, 10}, std::nullopt,
                       &plan, &error));
  EXPECT_EQ(error, "the medium is too large to print on");
}

TEST(PlanTest, WithoutAMediumTheJobsOwnPage) {
  PrintPlan plan;
  std::string error;
  ASSERT_TRUE(PlanJob(Job(JobKind::kPostScript, PageBox{0, 0, 82, 144}), std::nullopt,
                      std::nullopt, &plan, &error));
  EXPECT_EQ(*plan.width, 82);
  EXPECT_EQ(*plan.height, 144);
  EXPECT_NEAR(plan.y, kUp, 1e-3);  // a length of 600 dots: the page's
  ASSERT_TRUE(PlanJob(Job(JobKind::kPostScript, std::nullopt), std::nullopt, std::nullopt, &plan,
                      &error));
  EXPECT_TRUE(plan.send_as_is);
  ASSERT_TRUE(PlanJob(Job(JobKind::kPdf, std::nullopt), std::nullopt, std::nullopt, &plan, &error));
  EXPECT_FALSE(plan.send_as_is);
  EXPECT_FALSE(plan.width);
  EXPECT_NEAR(plan.x, kLeft, 1e-9);
  EXPECT_NEAR(plan.y, kUp, 1e-3);
}

TEST(PlanTest, GhostscriptsArguments) {
  PrintPlan plan;
  plan.width = 175.748;
  plan.height = 283.465;
  plan.x = -4.32;
  plan.y = 8.5;
  plan.scale = 0.5;
  EXPECT_EQ(GhostscriptArguments(plan, "/dev/stdin", "/w/out.ps", "MARK"),
            (std::vector<std::string>{
                "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=ps2write",
                "-dDEVICEWIDTHPOINTS=175.748", "-dDEVICEHEIGHTPOINTS=283.465", "-dFIXEDMEDIA",
                "-sOutputFile=/w/out.ps", "-c",
                "<< /Install { -4.320000 8.500000 translate 0.500000000 dup scale } >> setpagedevice",
                "-f", "/dev/stdin", "-c",
                "systemdict begin currentpagedevice /PageCount get 0 eq { (MARK) = flush "
                "lx-filter-found-no-page } if end"}));
  PrintPlan as_is;
  as_is.send_as_is = true;
  const std::vector<std::string> count = GhostscriptArguments(as_is, "in", "out", "M");
  EXPECT_EQ(count[4], "-sDEVICE=nullpage");
  EXPECT_EQ(count[5], "-f");
}

}  // namespace
