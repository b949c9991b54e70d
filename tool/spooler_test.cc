#include "tool/spooler.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <algorithm>
#include <random>
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
  EXPECT_EQ(DeleteCommand(kTool, "lp_1.a,b:c+d@e%f/h-i", "it's"),
            kTool + "   -P lp_1.a,b:c+d@e%f/h-i -d \"it's\" -show 1");
}

TEST(SpoolerCommandTest, GuardsWhatTheShellWouldInterpretWithoutBackslashes) {
  EXPECT_EQ(QuoteInDoubleQuotes("a\"b$c`d\\e f;g'"), "a\"'\"'\"b\"'$'\"c\"'`'\"d\"'\\'\"e f;g'");
  EXPECT_EQ(QuoteInDoubleQuotes("$$\\\"x"), "\"'$$\\\"'\"x");  // a run in one stretch
  EXPECT_EQ(QuoteWord("LX 230"), "'LX 230'");
  EXPECT_EQ(QuoteWord("it's"), "'it'\"'\"'s'");
  EXPECT_EQ(QuoteWord("LX=230"), "'LX=230'");  // never an assignment
  EXPECT_EQ(QuoteWord("$(reboot)"), "'$(reboot)'");
  EXPECT_EQ(DeleteCommand(kTool, "q;x", "$(id)"),
            kTool + "   -P 'q;x' -d \"\"'$'\"(id)\" -show 1");
}

// The locales where bash reads a byte of '\\', '`', '$' or '@'.. as the
// second byte of a character, and a character of each to see that the
// generated locale took effect.
struct Locale {
  const char* name;
  const char* source;
  const char* charmap;
  const char* one_character;
};

const Locale kLocales[] = {
    {"C.UTF-8", "C", "UTF-8", "\xC3\xA4"},
    {"zh_TW.BIG5", "zh_TW", "BIG5", "\xA4\x5C"},
    {"zh_HK.BIG5-HKSCS", "zh_HK", "BIG5-HKSCS", "\xA4\x5C"},
    {"zh_CN.GBK", "zh_CN", "GBK", "\x81\x5C"},
    {"zh_CN.GB18030", "zh_CN", "GB18030", "\x81\x5C"},
    {"ja_JP.SJIS", "ja_JP", "SHIFT_JIS", "\x81\x5C"},
};

// Starts compiling every locale into |dir|, all at once (GB18030 takes
// seconds); the pids in the order of kLocales.
std::vector<pid_t> StartLocales(const std::string& dir) {
  std::vector<pid_t> pids;
  for (const Locale& locale : kLocales) {
    pid_t pid = fork();
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      const std::string out = dir + "/" + locale.name;
      execlp("localedef", "localedef", "-c", "-i", locale.source, "-f", locale.charmap,
             out.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    pids.push_back(pid);
  }
  return pids;
}

// localedef warns (status 1) about charmaps that are not ASCII supersets.
bool Finished(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) <= 1;
}

std::string RandomText(std::mt19937* random, size_t max_length) {
  std::uniform_int_distribution<size_t> length(1, max_length);
  std::uniform_int_distribution<int> byte(1, 255);
  std::string text(length(*random), ' ');
  for (char& c : text) c = static_cast<char>(byte(*random));
  return text;
}

// The command lines, run by bash in each locale and by dash: the
// spooler-side tool receives exactly the name and queue, nothing else runs.
// Hand-picked attacks leave a file if they ever run; random names and queues
// of any byte would come out changed if any guard gave way.
TEST(SpoolerCommandTest, GuardingHoldsInEveryLocaleAndShell) {
  for (const char* tool : {"/bin/bash", "/bin/dash", "/usr/bin/localedef"}) {
    if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
  }
  if (access("/usr/share/i18n/charmaps/GB18030.gz", R_OK) != 0) {
    GTEST_SKIP() << "the locale sources (package locales) are not installed";
  }
  TempDir dir;
  const std::vector<pid_t> localedefs = StartLocales(dir.path());
  const std::string marker = dir / "ran";
  const std::string touch = "touch " + marker;
  std::vector<std::string> attacks = {
      "$(" + touch + ")", "`" + touch + "`", "a;" + touch, "a|" + touch, "a&&" + touch,
      "a&" + touch + "&", "\";" + touch + ";#", "';" + touch + ";#", "\\\";" + touch + ";#",
      "a > " + marker, "${HOME}$HOME", "back\\slash\\", "*?[a]", "-leading", "~root", "!bang",
  };
  for (const Locale& locale : kLocales) {
    // The lead byte swallows the guarding backslash of a "\"" or "\`".
    attacks.push_back(std::string(locale.one_character, 1) + "\";" + touch + ";#");
    attacks.push_back(std::string(locale.one_character, 1) + "`" + touch + "`");
  }

  struct Shell {
    std::string binary, locale;
    pid_t localedef;
    const char* one_character;
  };
  std::vector<Shell> shells = {{"/bin/bash", "C", 0, nullptr}, {"/bin/dash", "C", 0, nullptr}};
  for (size_t i = 0; i < std::size(kLocales); ++i) {
    shells.push_back({"/bin/bash", kLocales[i].name, localedefs[i], kLocales[i].one_character});
  }

  std::mt19937 random(20261208);
  int runs = 0, refused = 0;
  for (const Shell& shell : shells) {
    SCOPED_TRACE(shell.binary + " " + shell.locale);
    RunOptions options;
    options.env = {"LOCPATH=" + dir.path(), "LC_ALL=" + shell.locale};
    if (shell.localedef != 0) {
      ASSERT_TRUE(Finished(shell.localedef)) << "localedef failed";
      RunResult length = RunProgram(
          shell.binary,
          {"bash", "-c", std::string("x='") + shell.one_character + "'; printf %s ${#x}"},
          options);
      ASSERT_EQ(length.out, "1") << "the locale did not take effect";
    }
    std::vector<std::pair<std::string, std::string>> inputs;  // name, queue
    for (const std::string& attack : attacks) {
      inputs.push_back({attack.substr(0, 32), "LX-230"});
      inputs.push_back({"Plain", attack});
    }
    for (int i = 0; i < 400; ++i) {
      inputs.push_back({RandomText(&random, 32), RandomText(&random, 1023)});
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
      const auto& [name, queue] = inputs[i];
      const bool add = i % 2 == 1;
      const std::string command =
          add ? AddCommand(KS_ARG_RECORDER, queue.c_str(), name.c_str(), 29, 70, "KsL1")
              : DeleteCommand(KS_ARG_RECORDER, queue.c_str(), name.c_str());
      std::vector<std::string> args = {"-P", queue, add ? "-n" : "-d", name};
      if (add) args.insert(args.end(), {"-w", "29", "-h", "70", "-specid", "KsL1"});
      args.insert(args.end(), {"-show", "1"});
      std::string expected;
      for (const std::string& arg : args) expected += arg + '\0';
      RunResult result = RunProgram(shell.binary, {shell.binary, "-c", command}, options);
      ++runs;
      // GB18030 has byte sequences that bash cannot read at all: a syntax
      // error, the tool not run, and a failure the caller sees.
      if (shell.locale == "zh_CN.GB18030" && result.status != 0 && result.out.empty()) {
        ++refused;
        continue;
      }
      ASSERT_EQ(result.status, 0) << result.err << "\ncommand: " << command;
      ASSERT_EQ(result.out, expected) << "command: " << command;
      ASSERT_EQ(result.err, "");
    }
  }
  EXPECT_FALSE(Exists(marker));
  printf("shell guarding: %d command lines in %zu shells, %d refused by bash as unreadable\n",
         runs, shells.size(), refused);
}

// Root's environment may hold what changes how bash reads or runs a
// command line: the shell never sees it, while the locale passes on.
TEST(SpoolerCommandTest, TheCallersEnvironmentDoesNotSteerTheShell) {
  if (access("/bin/bash", X_OK) != 0) GTEST_SKIP() << "/bin/bash is not installed";
  TempDir dir;
  const std::string marker = dir / "ran";
  const std::vector<std::vector<std::pair<const char*, std::string>>> attacks = {
      {{"SHELLOPTS", "noexec"}},  // nothing would run, and the add would go on
      {{"SHELLOPTS", "keyword"}},  // -P LX=230 would become an assignment
      {{"SHELLOPTS", "xtrace"}, {"PS4", "$(touch " + marker + ")"}},
  };
  for (const auto& attack : attacks) {
    SCOPED_TRACE(attack.back().first);
    for (const auto& [name, value] : attack) setenv(name, value.c_str(), 1);
    setenv("SHELLOPTS_PROBE", "kept", 1);
    const std::string command =
        AddCommand(KS_ARG_RECORDER, "LX=230", "Name", 29, 70, "KsL1") + " > " + (dir / "out");
    const Status result = RunSpoolerTool(command, "/bin/bash");
    for (const auto& [name, value] : attack) unsetenv(name);
    ASSERT_TRUE(result.ok());
    std::string expected;
    for (const char* arg : {"-P", "LX=230", "-n", "Name", "-w", "29", "-h", "70", "-specid",
                            "KsL1", "-show", "1"}) {
      expected += std::string(arg) + '\0';
    }
    EXPECT_EQ(ReadFile(dir / "out"), expected);
    EXPECT_FALSE(Exists(marker));
  }
  // The caller's PATH and exported functions stay behind too.
  const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "";
  setenv("PATH", dir.path().c_str(), 1);
  setenv("BASH_FUNC_probe%%", "() { touch ran; }", 1);
  const std::vector<std::string> env = ShellEnvironment(environ);
  setenv("PATH", path.c_str(), 1);
  unsetenv("BASH_FUNC_probe%%");
  EXPECT_NE(std::find(env.begin(), env.end(), "SHELLOPTS_PROBE=kept"), env.end());
  EXPECT_NE(std::find(env.begin(), env.end(), kShellPath), env.end());
  for (const std::string& variable : env) {
    EXPECT_NE(variable.rfind("BASH_FUNC_", 0), 0u) << variable;
    EXPECT_TRUE(variable.rfind("PATH=", 0) != 0 || variable == kShellPath) << variable;
  }
  unsetenv("SHELLOPTS_PROBE");
}

TEST(SpoolerCommandTest, ALongQueueIsPassedWhole) {
  TempDir dir;
  TestData data(dir.path());
  data.RecordSpoolerCalls();
  std::string queue(1023, 'q');
  queue[500] = ' ';
  ASSERT_TRUE(RunSpoolerTool(DeleteCommand(data.lpd() + "kstapefmtcups", queue.c_str(), "N")).ok());
  ASSERT_EQ(data.SpoolerCalls().size(), 1u);
  EXPECT_EQ(data.SpoolerCalls()[0][1], queue);
}

TEST(SpoolerCommandTest, FailuresOfTheToolAndOfTheShellDiffer) {
  TempDir dir;
  TestData data(dir.path());
  data.FailSpooler(3);
  EXPECT_EQ(RunSpoolerTool(DeleteCommand(data.lpd() + "kstapefmtcups", "Q", "N")).kind(),
            Status::Kind::kSpoolerFailed);
  EXPECT_EQ(RunSpoolerTool(DeleteCommand(dir / "missing-tool", "Q", "N")).kind(),
            Status::Kind::kSpoolerFailed);
  // With SIGCHLD ignored the shell's status is lost: that is our failure.
  signal(SIGCHLD, SIG_IGN);
  const Status result = RunSpoolerTool("true");
  signal(SIGCHLD, SIG_DFL);
  EXPECT_EQ(result.kind(), Status::Kind::kError);
  EXPECT_EQ(result.error(), ECHILD);
}

}  // namespace
