#include "tool/spooler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

const std::string kTool = "/opt/kestrel/Tavlix/lx230/lpd/kstapefmtcups";

TEST(SpoolerCommandTest, OrdinaryNamesGiveTheExactCommandLines) {
  EXPECT_EQ(DeleteCommand(kTool, "LX-230", "New Label Format"),
            "/opt/kestrel/Tavlix/lx230/lpd/kstapefmtcups   -P LX-230 -d \"New Label Format\" "
            "-show 1");
  EXPECT_EQ(AddCommand(kTool, "LX-230", "New Label Format", 29, 70, "KsL101D04651234"),
            "/opt/kestrel/Tavlix/lx230/lpd/kstapefmtcups   -P LX-230 -n \"New Label Format\" "
            "-w 29 -h 70 -specid KsL101D04651234 -show 1");
  // Ordinary queue characters stay unquoted, and single quotes need no guard
  // inside the double quotes.
  EXPECT_EQ(DeleteCommand(kTool, "lp_1.a,b:c+d@e%f=g/h-i", "it's"),
            kTool + "   -P lp_1.a,b:c+d@e%f=g/h-i -d \"it's\" -show 1");
}

TEST(SpoolerCommandTest, GuardsWhatTheShellWouldInterpret) {
  EXPECT_EQ(QuoteInDoubleQuotes("a\"b$c`d\\e f;g"), "a\\\"b\\$c\\`d\\\\e f;g");
  EXPECT_EQ(QuoteWord("LX 230"), "'LX 230'");
  EXPECT_EQ(QuoteWord("it's"), "'it'\\''s'");
  EXPECT_EQ(QuoteWord("$(reboot)"), "'$(reboot)'");
  EXPECT_EQ(DeleteCommand(kTool, "q;x", "$(id)"),
            kTool + "   -P 'q;x' -d \"\\$(id)\" -show 1");
}

// What the spooler-side tool actually receives through the shell.
TEST(SpoolerCommandTest, HostileNamesAndQueuesArriveVerbatimAndNothingElseRuns) {
  TempDir dir;
  DataSet data(dir.path());
  data.RecordSpoolerCalls();
  const std::string marker = dir / "ran";
  const std::string touch = "touch " + marker;
  const std::vector<std::string> hostile = {
      "plain",
      "with space",
      "tab\there",
      "\"double\"",
      "'single'",
      "$(" + touch + ")",
      "`" + touch + "`",
      "${HOME}$HOME",
      "back\\slash\\",
      "\\\"",
      "a;" + touch,
      "a|" + touch,
      "a&&" + touch,
      "a&" + touch + "&",
      "*?[a]",
      "-leading dash",
      "~root",
      "#comment",
      "a > " + marker,
      "!bang",
  };
  const std::string tool = data.lpd() + "kstapefmtcups";
  std::vector<std::vector<std::string>> expected;
  for (const std::string& text : hostile) {
    std::string name = text.substr(0, 32);
    ASSERT_TRUE(RunSpoolerTool(DeleteCommand(tool, text.c_str(), name.c_str()))) << text;
    ASSERT_TRUE(RunSpoolerTool(AddCommand(tool, text.c_str(), name.c_str(), 29, 70,
                                          "KsL101D04651234"))) << text;
    expected.push_back({"-P", text, "-d", name, "-show", "1"});
    expected.push_back({"-P", text, "-n", name, "-w", "29", "-h", "70", "-specid",
                        "KsL101D04651234", "-show", "1"});
  }
  EXPECT_EQ(data.SpoolerCalls(), expected);
  EXPECT_FALSE(Exists(marker));
}

TEST(SpoolerCommandTest, ALongQueueIsPassedWhole) {
  TempDir dir;
  DataSet data(dir.path());
  data.RecordSpoolerCalls();
  std::string queue(1023, 'q');
  queue[500] = ' ';
  ASSERT_TRUE(RunSpoolerTool(DeleteCommand(data.lpd() + "kstapefmtcups", queue.c_str(), "N")));
  ASSERT_EQ(data.SpoolerCalls().size(), 1u);
  EXPECT_EQ(data.SpoolerCalls()[0][1], queue);
}

TEST(SpoolerCommandTest, NonZeroExitIsFailure) {
  TempDir dir;
  DataSet data(dir.path());
  data.FailSpooler(3);
  EXPECT_FALSE(RunSpoolerTool(DeleteCommand(data.lpd() + "kstapefmtcups", "Q", "N")));
  EXPECT_FALSE(RunSpoolerTool(DeleteCommand(dir / "missing-tool", "Q", "N")));
}

}  // namespace
