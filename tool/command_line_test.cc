#include "tool/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

ParsedCommandLine Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "kstapefmtlpr_lx230");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

Command CommandOf(std::vector<const char*> args) { return Parse(std::move(args)).command; }

TEST(DetectModelTest, FirstKeyOfTheTableAnywhereInTheWholeName) {
  EXPECT_STREQ(DetectModel("kstapefmtlpr_lx230"), "lx230");
  EXPECT_STREQ(DetectModel("/usr/lib/filters/kstapefmtlpr_lx230"), "lx230");
  EXPECT_STREQ(DetectModel("/x/210/kstapefmtlpr_lx230"), "lx210");
  EXPECT_STREQ(DetectModel("kstapefmtlpr_lx220"), "lx220");
  EXPECT_STREQ(DetectModel("kstapefmtlpr_lx240pc"), "lx240pc");
  EXPECT_STREQ(DetectModel("240-and-230"), "lx230");  // row order, not position
  EXPECT_EQ(DetectModel("kstapefmtlpr"), nullptr);
  EXPECT_EQ(DetectModel(""), nullptr);
}

TEST(ParseCommandLineTest, UnknownModelWinsOverValidOptions) {
  const char* argv[] = {"kstapefmtlpr", "-P", "LX-230", "-d", "Foo"};
  EXPECT_EQ(ParseCommandLine(5, argv).command, Command::kInvalidModel);
}

TEST(ParseCommandLineTest, AcceptsTheTwoCommandsInAnyOrder) {
  ParsedCommandLine add = Parse({"-w", "29", "-n", "New Label Format", "-P", "LX-230", "-h", "70"});
  ASSERT_EQ(add.command, Command::kAdd);
  EXPECT_STREQ(add.request.model, "lx230");
  EXPECT_STREQ(add.request.queue, "LX-230");
  EXPECT_STREQ(add.request.name, "New Label Format");
  EXPECT_EQ(add.request.width, 29);
  EXPECT_EQ(add.request.height, 70);
  EXPECT_STREQ(add.request.path, "");

  ParsedCommandLine del = Parse({"-d", "Foo", "-P", "LX-230"});
  ASSERT_EQ(del.command, Command::kDelete);
  EXPECT_STREQ(del.request.name, "Foo");
}

TEST(ParseCommandLineTest, ShapesThatGiveTheUsageText) {
  EXPECT_EQ(CommandOf({}), Command::kUsage);
  EXPECT_EQ(CommandOf({"-P", "LX-230", "-d"}), Command::kUsage);         // odd count
  EXPECT_EQ(CommandOf({"-d", "Foo"}), Command::kUsage);                  // no queue
  EXPECT_EQ(CommandOf({"-P", "LX-230", "-n", "Foo", "-d", "Foo"}), Command::kUsage);
  EXPECT_EQ(CommandOf({"-P", "LX-230", "-n", "Foo", "-w", "29"}), Command::kUsage);
  EXPECT_EQ(CommandOf({"-P", "LX-230", "-x", "1", "-d", "Foo"}), Command::kUsage);
  EXPECT_EQ(CommandOf({"-P", "", "-d", "Foo"}), Command::kUsage);
  EXPECT_EQ(CommandOf({"-p", "LX-230", "-d", "Foo"}), Command::kUsage);  // case matters
  EXPECT_EQ(CommandOf({"-", "LX-230", "-d", "Foo"}), Command::kUsage);
}

// What a command line that gives the usage text did wrong, in one line
// naming the option or value.
TEST(ParseCommandLineTest, ARefusedCommandLineSaysWhatWasWrong) {
  const std::pair<std::vector<const char*>, const char*> cases[] = {
      {{}, "no command: an add (-P -n -w -h), a delete (-P -d), -l or -m"},
      {{"-P", "LX-230", "-d"}, "-d has no value (each option takes one)"},
      {{"-d", "Foo"}, "no queue: an add or a delete needs -P"},
      {{"-P", "Q"}, "no format: an add needs -n, -w and -h; a delete -d"},
      {{"-P", "Q", "-n", "Foo", "-d", "Foo"}, "-n and -d together: a run adds or deletes, not both"},
      {{"-P", "Q", "-n", "Foo", "-w", "29"}, "an add needs -h"},
      {{"-P", "Q", "-n", "Foo", "-h", "29"}, "an add needs -w"},
      {{"-P", "Q", "-n", "Foo"}, "an add needs -w and -h"},
      {{"-P", "Q", "-x", "1", "-d", "Foo"}, "-x: no such option (-P, -n, -d, -w, -h; or -l, or -m and a medium, alone)"},
      {{"-P", "", "-d", "Foo"}, "-P : a queue is 1 to 1023 bytes"},
      {{"-P", "Q", "-n", "a\tb", "-w", "1", "-h", "1"},
       "-n a\\x09b: a name to add is 1 to 32 bytes, without a control character or the text [CustomTape]"},
      {{"-P", "Q", "-d", "a\nb"}, "-d a\\x0ab: a name is 1 to 32 bytes, without a newline"},
      {{"-P", "Q", "-n", "N", "-w", "0", "-h", "1"}, "-w 0: a width is a whole number of mm, 1 to 182096569"},
      {{"-P", "Q", "-d", "Foo", "-h", "abc"}, "-h abc: a length is a whole number of mm, 1 to 182096572"},
  };
  for (const auto& [args, refused] : cases) {
    const ParsedCommandLine parsed = Parse(args);
    EXPECT_EQ(parsed.command, Command::kUsage) << refused;
    EXPECT_EQ(parsed.refused, refused);
  }
}

TEST(ParseCommandLineTest, OptionsAreKnownByTheirFirstTwoCharacters) {
  ParsedCommandLine parsed = Parse({"-Pq", "LX-230", "-dxyz", "Foo"});
  ASSERT_EQ(parsed.command, Command::kDelete);
  EXPECT_STREQ(parsed.request.queue, "LX-230");
}

TEST(ParseCommandLineTest, LaterOccurrencesReplaceEarlierOnes) {
  ParsedCommandLine parsed =
      Parse({"-P", "A", "-n", "LongerName", "-n", "Ab", "-w", "1", "-h", "2", "-P", "B"});
  ASSERT_EQ(parsed.command, Command::kAdd);
  EXPECT_STREQ(parsed.request.name, "Ab");
  EXPECT_STREQ(parsed.request.queue, "B");
}

TEST(ParseCommandLineTest, LengthLimitsOfNameAndQueue) {
  std::string name32(32, 'n'), name33(33, 'n');
  std::string queue1023(1023, 'q'), queue1024(1024, 'q');
  EXPECT_EQ(CommandOf({"-P", "Q", "-d", name32.c_str()}), Command::kDelete);
  EXPECT_EQ(CommandOf({"-P", "Q", "-d", name33.c_str()}), Command::kUsage);
  EXPECT_EQ(CommandOf({"-P", "Q", "-n", name33.c_str(), "-w", "1", "-h", "1"}), Command::kUsage);
  EXPECT_EQ(CommandOf({"-P", queue1023.c_str(), "-d", "Foo"}), Command::kDelete);
  EXPECT_EQ(CommandOf({"-P", queue1024.c_str(), "-d", "Foo"}), Command::kUsage);
  EXPECT_EQ(CommandOf({"-P", "Q", "-n", "a\"$`\\;|&\x80\xff", "-w", "1", "-h", "1"}),
            Command::kAdd);
}

// What would corrupt the data files is refused in a new name; a delete still
// takes it (but for a newline), so a format made under it before can go.
TEST(ParseCommandLineTest, NamesThatWouldCorruptTheDataFiles) {
  for (const char* name : {"[CustomTape]1", "x[CustomTape]", "a\tb", "\x01", "del\x7f", "\x1f",
                           "two\nlines"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(CommandOf({"-P", "Q", "-n", name, "-w", "1", "-h", "1"}), Command::kUsage);
    EXPECT_EQ(CommandOf({"-P", "Q", "-d", name}),
              strchr(name, '\n') != nullptr ? Command::kUsage : Command::kDelete);
  }
  EXPECT_EQ(CommandOf({"-P", "Q", "-n", "[CustomTape", "-w", "1", "-h", "1"}), Command::kAdd);
}

TEST(ParseCommandLineTest, SizesAreReadLikeAtolAndMustBePositive) {
  auto width = [](const char* value) {
    ParsedCommandLine parsed = Parse({"-P", "Q", "-n", "N", "-w", value, "-h", "70"});
    return parsed.command == Command::kAdd ? parsed.request.width : -1;
  };
  EXPECT_EQ(width("29mm"), 29);
  EXPECT_EQ(width("  +29"), 29);
  EXPECT_EQ(width("007"), 7);
  EXPECT_EQ(width("0"), -1);
  EXPECT_EQ(width("-3"), -1);
  EXPECT_EQ(width("abc"), -1);
  EXPECT_EQ(width(""), -1);
  EXPECT_EQ(width(std::string(33, '1').c_str()), -1);  // text longer than 32 bytes
  EXPECT_EQ(width("182000000"), 182000000);           // dots still fit 32 bits
  EXPECT_EQ(width("183000000"), -1);                  // they would not
  EXPECT_EQ(width("99999999999999999999"), -1);       // saturates, then too large
}

TEST(ParseCommandLineTest, ListIsTheOnlyArgumentMinusL) {
  EXPECT_EQ(CommandOf({"-l"}), Command::kList);
  EXPECT_EQ(CommandOf({"-lx"}), Command::kUsage);
  EXPECT_EQ(CommandOf({"-l", "-P"}), Command::kUsage);
  EXPECT_EQ(CommandOf({"-P", "Q", "-l"}), Command::kUsage);
  const char* argv[] = {"kstapefmtlpr", "-l"};
  EXPECT_EQ(ParseCommandLine(2, argv).command, Command::kInvalidModel);
}

TEST(ParseCommandLineTest, DeleteValidatesButIgnoresSizes) {
  EXPECT_EQ(CommandOf({"-P", "LX-230", "-d", "Foo", "-w", "10"}), Command::kDelete);
  EXPECT_EQ(CommandOf({"-P", "LX-230", "-d", "Foo", "-w", "0"}), Command::kUsage);
}

TEST(UsageTextTest, IsExact) {
  EXPECT_EQ(UsageText(),
            "===========================\n"
            " LPRng Tapefmt Tool (v 0.1)\n"
            " Usage: kstapefmtlpr_xxxx -P LX-xxxx Printer Name [-n add a Lable Format Name "
            "(<=32 bytes) -w Media Width(unit:mm) -h Media Height(unit:mm)]/[-d delete Lable "
            "Format Name]\n"
            " For example:\n"
            " 1. Add a new Label Format with \"New Label Format\" name and 29mm width and 70mm "
            "length:\n"
            "\t\"kstapefmtlpr_lx230 -P LX-230 -n New\\ Label\\ Format -w 29 -h 70\" [enter]\n"
            "\n"
            " 2. Remove the Label Format with \"New Label Format\" name:\n"
            "\t\"kstapefmtlpr_lx230 -P LX-230 -d New\\ Label\\ Format\" [enter]\n"
            "\n"
            "===========================\n");
}

}  // namespace
