#include "print/job_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(JobOptionsTest, PrintcapNumbersAreDecimalAndPositive) {
  EXPECT_EQ(PrintcapNumber("30"), 30u);
  EXPECT_EQ(PrintcapNumber("010"), 10u);  // not octal
  EXPECT_EQ(PrintcapNumber("08"), 8u);
  EXPECT_EQ(PrintcapNumber("000999999"), 999999u);
  for (const char* junk : {"", "0", "000", "-1", "+5", "1e3", "12a", " 5", "1000000", "0x10", "5 "}) {
    EXPECT_EQ(PrintcapNumber(junk), std::nullopt) << junk;
  }
}

TEST(JobOptionsTest, TheQueuesEntryBothSyntaxesFirstWins) {
  QueueOptions options;
  std::string error;
  ASSERT_TRUE(ParseQueueOptions(
      "LX-230\n    :sd=/var/spool/lpd/%P\n    :ks_time_limit#030:ks_output_limit=2\n"
      "    :ks_media=Label 62x100\n    :ks_time_limit=5:ks_disk_limit#7:ks_memory_limit=0300\n"
      "    :ks_media=Other\n",
      &options, &error))
      << error;
  EXPECT_EQ(options.medium, "Label 62x100");
  EXPECT_EQ(options.limits.cpu_seconds, 30u);
  EXPECT_EQ(options.limits.output_mib, 2u);
  EXPECT_EQ(options.limits.disk_mib, 7u);
  EXPECT_EQ(options.limits.memory_mib, 300u);
  ASSERT_TRUE(ParseQueueOptions("", &options, &error));
  EXPECT_EQ(options.limits.cpu_seconds, 120u);  // the defaults
  EXPECT_EQ(options.limits.output_mib, 100u);
  for (const auto& [entry, message] : std::vector<std::pair<const char*, const char*>>{
           {":ks_time_limit=0:", "ks_time_limit=0 is no number of seconds (1 to 999999)"},
           {":ks_output_limit#abc:", "ks_output_limit#abc is no number of MiB (1 to 999999)"},
           {":ks_disk_limit=:", "ks_disk_limit= is no number of MiB (1 to 999999)"},
           {":ks_memory_limit=-5:", "ks_memory_limit=-5 is no number of MiB (1 to 999999)"}}) {
    EXPECT_FALSE(ParseQueueOptions(entry, &options, &error)) << entry;
    EXPECT_EQ(error, message);
  }
}

TEST(JobOptionsTest, TheJobsOptionsFromLpdsArguments) {
  JobOptions options;
  std::string error;
  ASSERT_TRUE(ParseJobOptions({"-Apr@host+12", "-Zmedia=Label 62x100,length=1181", "-Jjob",
                               "-Z", "length=600", "-Ppr"},
                              &options, &error));
  EXPECT_EQ(options.medium, "Label 62x100");
  EXPECT_TRUE(options.medium_given);
  EXPECT_EQ(options.length, 600.0);
  ASSERT_TRUE(ParseJobOptions({"-Ppr"}, &options, &error));
  EXPECT_FALSE(options.medium_given);
  for (const auto& [arg, message] : std::vector<std::pair<const char*, const char*>>{
           {"-Zcolour=red", "unknown job option: -Z colour=red (known: media=, length=)"},
           {"-Zmedia=", "media= names no medium"},
           {"-Zlength=*", "length=* is no length in 1/300 inch"},
           {"-Zlength=1.2.3", "length=1.2.3 is no length in 1/300 inch"}}) {
    EXPECT_FALSE(ParseJobOptions({arg}, &options, &error)) << arg;
    EXPECT_EQ(error, message);
  }
}

}  // namespace
