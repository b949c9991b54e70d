// Names and queues full of what a shell would interpret: the spooler-side
// tool receives each verbatim, nothing else runs, and the entry lines in the
// data files are whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

struct Input {
  std::string name;
  std::string queue;
};

// Payloads that would leave a file named "pwned" in the working directory
// if the shell ever interpreted them.
std::vector<std::string> Payloads() {
  return {
      "$(touch pwned)", "`touch pwned`", "${IFS}touch${IFS}pwned", "a;touch pwned",
      "a|touch pwned", "a&&touch pwned", "a||touch pwned", "a&touch pwned&", "a>pwned",
      "a<pwned", "a>>pwned", "\"; touch pwned; \"", "'; touch pwned; '", "\\\"$(touch pwned)",
      "\\`touch pwned\\`", "$((1+1))`touch pwned`", "a\ttouch pwned", "$'\\x41'",
      "!touch pwned", "#;touch pwned", "*", "?", "[a-z]*", "~", "~root", "-n", "-d", "--help",
      "-P", "a b  c", " leading", "trailing ", "\\", "\\\\", "\"", "'", "''", "\"\"", "$",
      "$HOME", "${HOME}", "$0", "$@", "%s%n%d", "{a,b}", "a=b", "(subshell)", "{ touch pwned; }",
      "ÄÖÜ äöü ß", "日本語ラベル", "\xF0\x9F\x8F\xB7 label",
  };
}

std::vector<Input> Corpus() {
  std::vector<Input> inputs;
  for (const std::string& payload : Payloads()) {
    // A new name may hold no control byte; a queue may.
    if (payload.find('\t') == std::string::npos) {
      inputs.push_back({payload.substr(0, 32), "LX-230"});
    }
    inputs.push_back({"Plain", payload});
  }
  std::string controls;
  for (char c = 1; c < 0x20; ++c) controls += c;
  inputs.push_back({"Plain", controls + "\x7F$(touch pwned)"});
  // The length limits: a 32-byte name and a 1023-byte queue.
  inputs.push_back({"$(touch pwned)`touch pwned`;|&\"\\", "q"});
  std::string queue(1023, 'q');
  queue.replace(500, 15, "$(touch pwned);");
  queue[1000] = '\'';
  inputs.push_back({std::string(32, 'N'), queue});
  return inputs;
}

TEST(HostileInputTest, ReachesTheSpoolerVerbatimAndNothingElseRuns) {
  TempDir dir;
  TestData data(dir.path());
  data.WriteSample();
  const std::vector<std::string> sample = data.Snapshot();
  const std::vector<Input> corpus = Corpus();
  ASSERT_GE(corpus.size(), 50u);
  for (const Input& input : corpus) {
    ASSERT_LE(input.name.size(), 32u);
    SCOPED_TRACE("name [" + input.name + "] queue [" + input.queue + "]");
    data.RecordSpoolerCalls();
    RunOptions options;
    options.cwd = dir.path();
    RunResult add = RunProgram(KS_TOOL_BINARY,
                               {"kstapefmtlpr_lx230", "-P", input.queue, "-n", input.name, "-w",
                                "29", "-h", "70"},
                               options);
    ASSERT_EQ(add.status, 0) << add.out << add.err;
    ASSERT_EQ(add.out, "");
    auto calls = data.SpoolerCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{"-P", input.queue, "-d", input.name, "-show",
                                                  "1"}));
    ASSERT_EQ(calls[1].size(), 12u);
    const std::string id = calls[1][9];
    EXPECT_EQ(calls[1], (std::vector<std::string>{"-P", input.queue, "-n", input.name, "-w",
                                                  "29", "-h", "70", "-specid", id, "-show",
                                                  "1"}));
    // Whole entry lines, each on a line of its own.
    EXPECT_NE(ReadFile(data.func()).find("[CustomTape]\n" + id + "/" + input.name + "\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(data.paper()),
              std::string(kSamplePaper) + id + "/" + input.name + ":\t306\t754\n");
    EXPECT_EQ(ReadFile(data.area()),
              std::string(kSampleArea) + id + "\t:\t4.32\t8.40\t77.76\t189.72\n");

    RunResult del = RunProgram(
        KS_TOOL_BINARY, {"kstapefmtlpr_lx230", "-P", input.queue, "-d", input.name}, options);
    ASSERT_EQ(del.status, 0) << del.out << del.err;
    ASSERT_EQ(del.out, "");
    EXPECT_EQ(data.SpoolerCalls().size(), 3u);
    EXPECT_EQ(data.Snapshot(), sample);
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"lx230"});
  }
  printf("hostile inputs: %zu\n", corpus.size());
}

}  // namespace
