#include "print/cups_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Show(const CupsOptions& options) {
  std::string text;
  for (const auto& [name, value] : options) text += "[" + name + "=" + value + "]";
  return text;
}

// The options argument as cupsd writes it (blanks and quotes escaped with
// "\"), as a user may type it to a filter by hand, and CUPS's odd corners.
TEST(CupsOptionsTest, SplitsAsCupsDoes) {
  EXPECT_EQ(Show(ParseCupsOptions("finishings=3 media=Label\\ 62x100 number-up=1 "
                                  "document-name-supplied=job.ps")),
            "[finishings=3][media=Label 62x100][number-up=1][document-name-supplied=job.ps]");
  EXPECT_EQ(Show(ParseCupsOptions("media=Gr\xc3\xb6\xc3\x9f" "e\\ \\'\\\"\\\\x")),
            "[media=Gr\xc3\xb6\xc3\x9f" "e '\"\\x]");
  EXPECT_EQ(Show(ParseCupsOptions("  media='Label 62x100'\tPageSize=\"a \\\" b\"  ")),
            "[media=Label 62x100][PageSize=a \" b]");
  // A list of quoted values keeps its commas; a quote inside a plain word is
  // part of it.
  EXPECT_EQ(Show(ParseCupsOptions("a='x y','z w' b=it's")), "[a=x y,z w][b=it's]");
  // Booleans, "no" negating, and a collection kept whole, blanks and all.
  EXPECT_EQ(Show(ParseCupsOptions("collate noFitPlot media-col={media-size={x-dimension=100 "
                                  "y-dimension=200}} sides=one-sided")),
            "[collate=true][FitPlot=false][media-col={media-size={x-dimension=100 "
            "y-dimension=200}}][sides=one-sided]");
  // The last of a name wins, whatever its case; it keeps its first place.
  EXPECT_EQ(Show(ParseCupsOptions("media=A pagesize=B MEDIA=C")), "[media=C][pagesize=B]");
  // An empty value, a trailing backslash, an unclosed quote, no name.
  EXPECT_EQ(Show(ParseCupsOptions("media= x=\\ y z=a\\")), "[media=][x= y][z=a\\]");
  EXPECT_EQ(Show(ParseCupsOptions("y='open b=1")), "[y=open b=1]");
  EXPECT_EQ(Show(ParseCupsOptions("a=1 =2 b=3")), "[a=1]");
  EXPECT_EQ(Show(ParseCupsOptions("no a=1 NO")), "[a=1]");  // no option of no name
  EXPECT_EQ(Show(ParseCupsOptions("")), "");
  EXPECT_EQ(CupsOption(ParseCupsOptions("PAGESIZE=29x90"), "PageSize"), "29x90");
  EXPECT_EQ(CupsOption(ParseCupsOptions("media=29x90"), "PageSize"), std::nullopt);
}

TEST(CupsOptionsTest, PageSizeWinsOverMediaAndLimitsOnlyGoDown) {
  CupsJob job;
  std::string error;
  // The queue's media-default arrives as media=; the job's PageSize wins.
  ASSERT_TRUE(ReadCupsJob(ParseCupsOptions("media=Queue\\ Label PageSize=29x90"), &job, &error));
  EXPECT_EQ(job.medium, "29x90");
  ASSERT_TRUE(ReadCupsJob(ParseCupsOptions("media=Queue\\ Label"), &job, &error));
  EXPECT_EQ(job.medium, "Queue Label");
  ASSERT_TRUE(ReadCupsJob(ParseCupsOptions("job-uuid=x"), &job, &error));
  EXPECT_EQ(job.medium, "");
  EXPECT_EQ(job.limits.cpu_seconds, 120u);

  ASSERT_TRUE(ReadCupsJob(ParseCupsOptions("ks_time_limit=30 ks_output_limit=999999 "
                                           "ks_disk_limit=007 ks_memory_limit=4096"),
                          &job, &error));
  EXPECT_EQ(job.limits.cpu_seconds, 30u);
  EXPECT_EQ(job.limits.output_mib, 100u);  // asked for more: the default holds
  EXPECT_EQ(job.limits.disk_mib, 7u);
  EXPECT_EQ(job.limits.memory_mib, 2048u);

  // The PPD's Default, or an empty value, names none: the other one, or
  // none at all. A PWG name is its size.
  for (const auto& [options, medium] : std::vector<std::pair<const char*, const char*>>{
           {"PageSize=Default media=Queue\\ Label", "Queue Label"},
           {"PageSize=Default media=Default", ""},
           {"media= PageSize=", ""},
           {"PageSize=Default media=custom_62x100mm_62x100mm", "62x100mm"},
           {"media=na_index-4x6_4x6in", "101.6x152.4mm"},
           {"media=iso_a4_210x297mm", "210x297mm"},
           {"media=oe_x_1.5x2.25in", "38.1x57.15mm"},
           {"media=my_label_62x100", "my_label_62x100"},
           {"media=Big_label_62x100mm", "Big_label_62x100mm"},
           {"media=custom__0x5mm", "custom__0x5mm"},
           {"media=a_b_1.2.3x4mm", "a_b_1.2.3x4mm"},
           {"media=_x_5x5mm", "_x_5x5mm"}}) {
    ASSERT_TRUE(ReadCupsJob(ParseCupsOptions(options), &job, &error)) << options;
    EXPECT_EQ(job.medium, medium) << options;
  }

  for (const auto& [options, message] : std::vector<std::pair<const char*, const char*>>{
           {"ks_time_limit=0", "ks_time_limit=0 is no number of seconds (1 to 999999)"},
           {"ks_memory_limit", "ks_memory_limit=true is no number of MiB (1 to 999999)"},
           {"ks_disk_limit=-1", "ks_disk_limit=-1 is no number of MiB (1 to 999999)"}}) {
    EXPECT_FALSE(ReadCupsJob(ParseCupsOptions(options), &job, &error)) << options;
    EXPECT_EQ(error, message);
  }
}

}  // namespace
