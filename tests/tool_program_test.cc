// The label-format tool run as a user runs it: a separate process, its
// invocation name given explicitly, against a data set in a temporary
// directory (the test build of the tool takes its install root relative to
// the working directory).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sched.h>

#include <csignal>
#include <cstdlib>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

const char kUsageFirstLine[] = "===========================\n LPRng Tapefmt Tool (v 0.1)\n";

class ToolProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { data_.WriteSample(); }

  RunResult Run(std::vector<std::string> args, RunOptions options = {}) {
    args.insert(args.begin(), "kstapefmtlpr_lx230");
    options.cwd = dir_.path();
    return RunProgram(KS_TOOL_BINARY, args, options);
  }

  TempDir dir_;
  TestData data_{dir_.path()};
};

TEST_F(ToolProgramTest, AddAndDeleteAreSilentAndSucceed) {
  data_.RecordSpoolerCalls();
  RunResult add = Run({"-P", "LX-230", "-n", "New Label Format", "-w", "29", "-h", "70"});
  EXPECT_EQ(add.status, 0);
  EXPECT_EQ(add.out, "");
  EXPECT_NE(ReadFile(data_.func()).find("/New Label Format\n"), std::string::npos);
  RunResult del = Run({"-P", "LX-230", "-d", "New Label Format"});
  EXPECT_EQ(del.status, 0);
  EXPECT_EQ(del.out, "");
  EXPECT_EQ(ReadFile(data_.func()), kSampleFunc);
  // The add began with a delete; the add's identifier has the documented shape.
  auto calls = data_.SpoolerCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0][2], "-d");
  EXPECT_EQ(calls[1][2], "-n");
  EXPECT_EQ(calls[1][9].substr(0, 10), "KsL101D046");
  EXPECT_EQ(calls[1][9].size(), 15u);
  EXPECT_EQ(calls[2], (std::vector<std::string>{"-P", "LX-230", "-d", "New Label Format",
                                                "-show", "1"}));
}

TEST_F(ToolProgramTest, AddingTheSameNameTwiceLeavesOneEntry) {
  ASSERT_EQ(Run({"-P", "Q", "-n", "Twice", "-w", "29", "-h", "70"}).status, 0);
  ASSERT_EQ(Run({"-P", "Q", "-n", "Twice", "-w", "40", "-h", "70"}).status, 0);
  for (const std::string& path : {data_.func(), data_.paper()}) {
    std::string content = ReadFile(path);
    size_t first = content.find("/Twice");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(content.find("/Twice", first + 1), std::string::npos) << content;
  }
  EXPECT_NE(ReadFile(data_.paper()).find("KsL0528046"), std::string::npos);  // 40 mm wide
}

// A command line the tool refuses is a failure a script can see: the usage
// text as it is, then 255 and one line on standard error naming what was
// wrong; so is a name that names no model, its message as it is.
TEST_F(ToolProgramTest, MessagesAndExitStatuses) {
  RunResult usage = Run({"-P", "LX-230", "-d"});
  EXPECT_EQ(usage.status, 255);
  EXPECT_EQ(usage.out.rfind(kUsageFirstLine, 0), 0u);
  EXPECT_EQ(usage.err, "kstapefmtlpr_lx230: -d has no value (each option takes one)\n");
  RunResult range = Run({"-P", "LX-230", "-n", "N", "-w", "0", "-h", "70"});
  EXPECT_EQ(range.status, 255);
  EXPECT_EQ(range.out, usage.out);
  EXPECT_EQ(range.err, "kstapefmtlpr_lx230: -w 0: a width is a whole number of mm, 1 to 182096569\n");

  RunResult invalid =
      RunProgram(KS_TOOL_BINARY, {"kstapefmtlpr", "-P", "LX-230", "-d", "Foo"}, {dir_.path()});
  EXPECT_EQ(invalid.status, 255);
  EXPECT_EQ(invalid.out, "kstapefmtlpr is invalid.\n\n");
  EXPECT_EQ(invalid.err, "");

  RunResult missing = Run({"-P", "LX-230", "-d", "Nobody"});
  EXPECT_EQ(missing.status, 0);
  EXPECT_EQ(missing.out, "Not found 'Nobody'\n");
}

TEST_F(ToolProgramTest, SpoolerFailureEndsWith255AndChangesNothing) {
  std::vector<std::string> before = data_.Snapshot();
  data_.FailSpooler(1);
  RunResult del = Run({"-P", "LX-230", "-d", "Small"});
  EXPECT_EQ(del.status, 255);
  EXPECT_EQ(del.out, "");
  RunResult add = Run({"-P", "LX-230", "-n", "New", "-w", "29", "-h", "70"});
  EXPECT_EQ(add.status, 255);
  EXPECT_EQ(add.out, "");
  EXPECT_EQ(data_.Snapshot(), before);
  EXPECT_EQ(PermissionBits(data_.func()), 0644u);
}

TEST_F(ToolProgramTest, SpoolerRefusingTheAddIsAFailureToo) {
  std::vector<std::string> before = data_.Snapshot();
  data_.FailSpoolerAdds(1);
  RunResult add = Run({"-P", "LX-230", "-n", "New", "-w", "29", "-h", "70"});
  EXPECT_EQ(add.status, 255);
  EXPECT_EQ(add.out, "");
  EXPECT_EQ(data_.Snapshot(), before);
}

TEST_F(ToolProgramTest, OpenFailuresNameTheFile) {
  unlink(data_.area().c_str());
  RunResult add = Run({"-P", "LX-230", "-n", "New", "-w", "29", "-h", "70"});
  EXPECT_EQ(add.status, 255);
  EXPECT_EQ(add.out, "./lx230/inf/ImagingArea: No such file or directory\n");
  RunResult del = Run({"-P", "LX-230", "-d", "Small"});
  EXPECT_EQ(del.status, 255);
  EXPECT_EQ(del.out, "./lx230/inf/ImagingArea: No such file or directory\n");
}

TEST_F(ToolProgramTest, ModelWithoutRcFileDeletes) {
  unlink(data_.rc().c_str());
  RunResult del = Run({"-P", "LX-230", "-d", "Small"});
  EXPECT_EQ(del.status, 0);
  EXPECT_EQ(del.out, "");
  EXPECT_EQ(ReadFile(data_.area()).find("KsL053E0643ABCD"), std::string::npos);
}

TEST_F(ToolProgramTest, TheWholeInvocationNameSelectsTheModel) {
  TestData other(dir_.path(), "lx210");
  other.WriteSample();
  RunResult add = RunProgram(KS_TOOL_BINARY,
                             {"/x/210/kstapefmtlpr_lx230", "-P", "Q", "-n", "Here", "-w", "29",
                              "-h", "70"},
                             {dir_.path()});
  EXPECT_EQ(add.status, 0);
  EXPECT_NE(ReadFile(other.func()).find("/Here\n"), std::string::npos);
  EXPECT_EQ(ReadFile(data_.func()), kSampleFunc);
}

// A write that fails part-way through (the file size limit stands in for a
// full disk) leaves every data file as it was.
TEST_F(ToolProgramTest, AFailedWriteLeavesEveryDataFileIntact) {
  std::vector<std::string> before = data_.Snapshot();
  RunOptions options;
  options.file_size_limit = 40;
  RunResult add = Run({"-P", "LX-230", "-n", "New", "-w", "29", "-h", "70"}, options);
  EXPECT_EQ(add.status, 255);
  EXPECT_EQ(add.out, "./lx230/inf/kslx230func: File too large\n");
  RunResult del = Run({"-P", "LX-230", "-d", "Small"}, options);
  EXPECT_EQ(del.status, 255);
  EXPECT_EQ(del.out, "./lx230/inf/kslx230func: File too large\n");
  EXPECT_EQ(data_.Snapshot(), before);
  EXPECT_EQ(ListDir(data_.inf()).size(), 4u);
  EXPECT_EQ(PermissionBits(data_.func()), 0644u);
}

TEST_F(ToolProgramTest, HostileNamesReachTheSpoolerVerbatim) {
  data_.RecordSpoolerCalls();
  // The tool runs in the test directory, so "ran" would appear there.
  const std::string marker = dir_ / "ran";
  const std::string queue = "q;touch ran|'x' $(touch ran)";
  const std::string short_name = "a\"$(touch ran)`touch ran`\\;|& b";
  RunResult add = Run({"-P", queue, "-n", short_name, "-w", "29", "-h", "70"});
  ASSERT_EQ(add.status, 0) << add.out << add.err;
  ASSERT_EQ(add.out, "");
  auto calls = data_.SpoolerCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0][1], queue);
  EXPECT_EQ(calls[0][3], short_name);
  EXPECT_EQ(calls[1][3], short_name);
  EXPECT_NE(ReadFile(data_.func()).find("/" + short_name + "\n"), std::string::npos);
  EXPECT_FALSE(Exists(marker));
  ASSERT_EQ(Run({"-P", queue, "-d", short_name}).status, 0);
  EXPECT_EQ(data_.Snapshot()[0], kSampleFunc);
}

// Runs on one model wait for each other: of 16 runs started at once, eight
// adding and eight deleting, every one lands. The files are made large so
// that unguarded runs would overlap.
TEST_F(ToolProgramTest, ConcurrentAddsAndDeletesAllLand) {
  constexpr int kPairs = 8;
  std::string padding;
  for (int i = 0; i < 20000; ++i) padding += "Filler line " + std::to_string(i) + "\n";
  WriteFile(data_.func(), kSampleFunc + padding);
  WriteFile(data_.paper(), kSamplePaper + padding);
  WriteFile(data_.area(), kSampleArea + padding);
  auto tool = [this](std::vector<std::string> args) {
    args.insert(args.begin(), "kstapefmtlpr_lx230");
    return RunProgram(KS_TOOL_BINARY, args, {dir_.path()});
  };
  for (int i = 0; i < kPairs; ++i) {
    ASSERT_EQ(tool({"-P", "Q", "-n", "Old " + std::to_string(i), "-w", "29", "-h", "70"}).status,
              0);
  }

  std::vector<pid_t> pids;
  for (int i = 0; i < 2 * kPairs; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string n = std::to_string(i / 2);
      RunResult r = i % 2 == 0 ? tool({"-P", "Q", "-n", "New " + n, "-w", "29", "-h", "70"})
                               : tool({"-P", "Q", "-d", "Old " + n});
      _exit(r.status == 0 && r.out.empty() ? 0 : 1);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
      ++n;
    }
    return n;
  };
  const std::string func = ReadFile(data_.func());
  const std::string paper = ReadFile(data_.paper());
  const std::string area = ReadFile(data_.area());
  for (int i = 0; i < kPairs; ++i) {
    std::string n = std::to_string(i);
    EXPECT_EQ(count(func, "/New " + n + "\n"), 1u) << n;
    EXPECT_EQ(count(paper, "/New " + n + ":"), 1u) << n;
    EXPECT_EQ(count(func, "/Old " + n + "\n"), 0u) << n;
    EXPECT_EQ(count(paper, "/Old " + n + ":"), 0u) << n;
  }
  EXPECT_EQ(count(area, "\t:\t4.32\t8.40\t77.76\t189.72\n"), static_cast<size_t>(kPairs));
  EXPECT_EQ(count(func, "Filler line"), 20000u);
  EXPECT_EQ(ListDir(data_.inf()).size(), 4u);
}

// A listing reads under a shared lock: it runs beside another reader,
// changes nothing and asks the spooler-side tool nothing.
TEST_F(ToolProgramTest, ListingRunsBesideOtherReadersAndChangesNothing) {
  data_.RecordSpoolerCalls();
  const std::vector<std::string> before = data_.Snapshot();
  int fd = open(data_.inf().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(fd, LOCK_SH), 0);
  // Waiting for the lock would end, after the wait, in a failure.
  RunResult list = Run({"-l"});
  close(fd);
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "Small\t62x100\tKsL053E0643ABCD\tok\n");
  EXPECT_EQ(data_.Snapshot(), before);
  EXPECT_TRUE(data_.SpoolerCalls().empty());
  unlink(data_.func().c_str());
  // What is missing, and what provides it: for a listing and for the
  // print filter's query alike.
  const std::string hint =
      ": No such file or directory (the printer driver for lx230 provides it: install the "
      "driver first)\n";
  for (const char* command : {"-l", "-m"}) {
    RunResult missing = command[1] == 'l' ? Run({command}) : Run({command, ""});
    EXPECT_EQ(missing.status, 255);
    EXPECT_EQ(missing.out, "./lx230/inf/kslx230func" + hint);
  }
  ASSERT_EQ(rename(data_.inf().c_str(), (data_.root + "lx230/gone").c_str()), 0);
  EXPECT_EQ(Run({"-l"}).out, "./lx230/inf" + hint);
}

// Anyone who can open the data directory can hold the model lock: a run
// waits for it only so long, then fails before the spooler-side tool runs.
TEST_F(ToolProgramTest, ALockHeldByAnotherProcessEndsTheRunAfterTheWait) {
  data_.RecordSpoolerCalls();
  const std::vector<std::string> before = data_.Snapshot();
  int fd = open(data_.inf().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(fd, LOCK_SH), 0);  // a shared lock keeps every change out
  const auto start = std::chrono::steady_clock::now();
  RunResult del = Run({"-P", "LX-230", "-d", "Small"});
  const auto took = std::chrono::steady_clock::now() - start;
  close(fd);
  EXPECT_EQ(del.status, 255);
  EXPECT_EQ(del.out, "Resource temporarily unavailable\n");
  // The wait is measured by the tool's own clock: never shorter. How much
  // longer a busy machine makes it is no verdict; a run that never gives
  // up is ended by the run's time limit and fails above.
  EXPECT_GE(took, std::chrono::seconds(10));
  EXPECT_TRUE(data_.SpoolerCalls().empty());
  EXPECT_EQ(data_.Snapshot(), before);
}

// A data file of one line of 3 GiB (sparse): the run fails like on a read
// error, leaves every file as it was, and takes no more memory than usual.
// Over 2 GiB, so that a 32-bit build without large-file support would fail
// already at the open. (The test never reads the big file: a forked child's
// peak memory counts the parent's pages too.)
TEST_F(ToolProgramTest, AnEnormousLineFailsTheRunInBoundedMemory) {
  RunResult usual = Run({"-P", "LX-230", "-d", "Small"});
  ASSERT_EQ(usual.status, 0);
  const std::vector<std::string> paths = {data_.func(), data_.paper(), data_.rc(), data_.area()};
  for (size_t big : {0, 3}) {
    SCOPED_TRACE(paths[big]);
    data_.WriteSample();
    WriteFile(paths[big], "");
    ASSERT_EQ(truncate(paths[big].c_str(), off_t{3} << 30), 0);  // zero bytes, no newline
    struct stat before;
    ASSERT_EQ(stat(paths[big].c_str(), &before), 0);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-P", "LX-230", "-n", "New", "-w", "29", "-h", "70"},
             {"-P", "LX-230", "-d", "Small"}}) {
      RunResult run = Run(args);
      EXPECT_EQ(run.status, 255);
      EXPECT_EQ(run.out, "./lx230/inf/" + paths[big].substr(paths[big].rfind('/') + 1) +
                             ": File too large\n");
      EXPECT_LT(run.max_rss_kb, usual.max_rss_kb + 4096);
      EXPECT_EQ(ListDir(data_.inf()).size(), 4u);
      struct stat after;
      ASSERT_EQ(stat(paths[big].c_str(), &after), 0);
      EXPECT_EQ(after.st_ino, before.st_ino);
      EXPECT_EQ(after.st_size, before.st_size);
    }
    if (big == 0) {  // the first file of both runs: nothing else changed either
      EXPECT_EQ(ReadFile(data_.paper()), kSamplePaper);
      EXPECT_EQ(ReadFile(data_.area()), kSampleArea);
    }
  }
}

// A paper info file of two million identifiers, listed with too little
// memory for them (as a 32-bit system may be): an error, never an abort.
TEST_F(ToolProgramTest, AListingOutOfMemoryFailsWithoutAnAbort) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit here allows";
#endif
  RunOptions options;
  options.address_space_limit = 1L << 20;
  if (Run({"-l"}, options).status == 0) {
    GTEST_SKIP() << "an address-space limit binds no program here (a 32-bit program run "
                    "through an emulator such as qemu-user)";
  }
  options.address_space_limit = 16L << 20;
  ASSERT_EQ(Run({"-l"}, options).status, 0);  // the limit leaves room for a run
  std::string paper;
  char line[32];
  for (unsigned i = 0; i < 2000000; ++i) {
    snprintf(line, sizeof line, "KsL%012X\n", i);
    paper += line;
  }
  WriteFile(data_.paper(), paper);
  RunResult run = Run({"-l"}, options);
  ASSERT_EQ(run.status, 255);
  EXPECT_EQ(run.out, "Cannot allocate memory\n");
}

// Root runs the spooler-side tool of the model's directory: a directory on
// the way to it, or the tool itself, that someone else may change would hand
// them root. And a link in place of inf/ would take the data elsewhere.
TEST_F(ToolProgramTest, AnUntrustedPathIsRefusedAsRoot) {
  data_.RecordSpoolerCalls();
  const std::vector<std::string> add = {"-P", "LX-230", "-n", "N", "-w", "29", "-h", "70"};
  const std::vector<std::string> before = data_.Snapshot();
  const std::string inf = data_.root + "lx230/inf";
  ASSERT_EQ(rename(inf.c_str(), (dir_ / "elsewhere").c_str()), 0);
  ASSERT_EQ(symlink((dir_ / "elsewhere").c_str(), inf.c_str()), 0);
  RunResult linked = Run(add);
  EXPECT_EQ(linked.status, 255);
  EXPECT_EQ(linked.out,
            "./lx230/inf: is a symbolic link, which the tool run as root does not follow\n");
  ASSERT_EQ(unlink(inf.c_str()), 0);
  ASSERT_EQ(rename((dir_ / "elsewhere").c_str(), inf.c_str()), 0);
  if (geteuid() != 0) GTEST_SKIP() << "the owner and mode checks apply to root only";

  const std::string tool = data_.lpd() + "kstapefmtcups";
  struct Case {
    std::string path;
    bool chown_to_user;  // else: group-writable
    std::string shown;
  };
  char* real = realpath(dir_.path().c_str(), nullptr);
  const std::string real_root = real;
  free(real);
  const Case cases[] = {{data_.root + "lx230", false, "./lx230"},
                        {data_.lpd(), false, "./lx230/lpd"},
                        {tool, true, "./lx230/lpd/kstapefmtcups"},
                        {dir_.path(), true, real_root}};
  for (const Case& c : cases) {
    struct stat st;
    ASSERT_EQ(stat(c.path.c_str(), &st), 0);
    ASSERT_EQ(c.chown_to_user ? chown(c.path.c_str(), 65534, 65534)
                              : chmod(c.path.c_str(), st.st_mode | S_IWGRP),
              0);
    RunResult result = Run(add);
    ASSERT_EQ(chown(c.path.c_str(), st.st_uid, st.st_gid), 0);
    ASSERT_EQ(chmod(c.path.c_str(), st.st_mode & 07777), 0);
    EXPECT_EQ(result.status, 255) << c.path;
    EXPECT_EQ(result.out, c.shown + ": must belong to root and be writable by root alone\n");
  }
  EXPECT_TRUE(data_.SpoolerCalls().empty());  // nothing ran
  EXPECT_EQ(data_.Snapshot(), before);

  // Every directory above the install root too: whoever owns one could
  // swap the tree below it while root waits for the lock. A sticky one
  // that root owns, like /tmp, is fine.
  const std::string up = dir_ / "up";
  ASSERT_EQ(mkdir(up.c_str(), 0755), 0);
  ASSERT_EQ(rename((dir_ / "lx230").c_str(), (up + "/lx230").c_str()), 0);
  RunOptions in_up;
  in_up.cwd = up;
  std::vector<std::string> argv = add;
  argv.insert(argv.begin(), "kstapefmtlpr_lx230");
  struct stat st;
  ASSERT_EQ(stat(dir_.path().c_str(), &st), 0);
  ASSERT_EQ(chown(dir_.path().c_str(), 65534, 65534), 0);
  RunResult owned = RunProgram(KS_TOOL_BINARY, argv, in_up);
  ASSERT_EQ(chown(dir_.path().c_str(), 0, st.st_gid), 0);
  EXPECT_EQ(owned.status, 255);
  EXPECT_EQ(owned.out, real_root + ": must belong to root and be writable by root alone\n");
  EXPECT_TRUE(data_.SpoolerCalls().empty());
  ASSERT_EQ(chmod(dir_.path().c_str(), 01777), 0);
  RunResult sticky = RunProgram(KS_TOOL_BINARY, argv, in_up);
  ASSERT_EQ(chmod(dir_.path().c_str(), st.st_mode & 07777), 0);
  EXPECT_EQ(sticky.status, 0) << sticky.out;
  // The install root itself sticky and writable by all: anyone could put
  // a model's directory there first.
  ASSERT_EQ(chmod(up.c_str(), 01777), 0);
  RunResult sticky_root = RunProgram(KS_TOOL_BINARY, argv, in_up);
  ASSERT_EQ(chmod(up.c_str(), 0755), 0);
  EXPECT_EQ(sticky_root.status, 255);
  EXPECT_EQ(sticky_root.out, real_root + "/up: must belong to root and be writable by root alone\n");
}

// As root, no symbolic link is followed on the way to the data set or to
// the spooler-side tool, even to what root owns: the shell finds the tool
// by its path again, so a link a user could change (or one in a directory
// a user could write) would run their program as root. Each is refused,
// naming it, before anything runs.
TEST_F(ToolProgramTest, AsRootNoLinkIsFollowedOnTheWay) {
  if (geteuid() != 0) GTEST_SKIP() << "the tool follows links as any other user: only root's run is at stake";
  data_.RecordSpoolerCalls();
  const std::vector<std::string> before = data_.Snapshot();
  const std::vector<std::string> add = {"-P", "LX-230", "-n", "N", "-w", "29", "-h", "70"};
  const std::string refused = ": is a symbolic link, which the tool run as root does not follow\n";
  // The tool, a link to a root-owned copy of itself.
  const std::string tool = data_.lpd() + "kstapefmtcups";
  const std::string real_tool = dir_ / "real-kstapefmtcups";
  ASSERT_EQ(rename(tool.c_str(), real_tool.c_str()), 0);
  ASSERT_EQ(symlink(real_tool.c_str(), tool.c_str()), 0);
  for (const auto& args : {add, std::vector<std::string>{"-P", "LX-230", "-d", "Small"}}) {
    RunResult run = Run(args);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, "./lx230/lpd/kstapefmtcups" + refused);
  }
  EXPECT_EQ(Run({"-l"}).status, 0);  // a listing runs no tool
  ASSERT_EQ(unlink(tool.c_str()), 0);
  ASSERT_EQ(rename(real_tool.c_str(), tool.c_str()), 0);
  // The model's directory, and lpd/, each a link to the real one.
  for (const std::string& name : {std::string("lx230"), std::string("lx230/lpd")}) {
    const std::string path = data_.root + name, real = dir_ / "real";
    ASSERT_EQ(rename(path.c_str(), real.c_str()), 0);
    ASSERT_EQ(symlink(real.c_str(), path.c_str()), 0);
    RunResult run = Run(add);
    RunResult list = Run({"-l"});
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(rename(real.c_str(), path.c_str()), 0);
    EXPECT_EQ(run.status, 255) << name;
    EXPECT_EQ(run.out, "./" + name + refused);
    EXPECT_EQ(list.out, "./" + name + refused);
  }
  // A directory above the install root: the root reached through a link.
  const std::string real = dir_ / "real", linked = dir_ / "linked";
  ASSERT_EQ(mkdir(real.c_str(), 0755), 0);
  ASSERT_EQ(rename((dir_ / "lx230").c_str(), (real + "/lx230").c_str()), 0);
  ASSERT_EQ(symlink(real.c_str(), linked.c_str()), 0);
  std::vector<std::string> argv = add;
  argv.insert(argv.begin(), "kstapefmtlpr_lx230");
  RunOptions in_linked;
  in_linked.cwd = linked;  // the working directory is found without links...
  RunResult run = RunProgram(KS_TOOL_BINARY, argv, in_linked);
  EXPECT_EQ(run.status, 0) << run.out;
  ASSERT_EQ(rename((real + "/lx230").c_str(), (dir_ / "lx230").c_str()), 0);
  EXPECT_EQ(data_.SpoolerCalls().size(), 2u);
  data_.WriteSample();
  EXPECT_EQ(data_.Snapshot(), before);
}

// Readers (a listing, a print job's question) take no lock and change
// nothing: a lock held by anyone, a commit record someone keeps planting,
// or what a writer killed between its renames left, makes none of them
// wait or fail. As lpd's user, who may not write the data directory, they
// read the change the record committed; the next writer completes it.
TEST_F(ToolProgramTest, ReadersNeitherWaitNorFailWhateverAWriterLeft) {
  RunOptions options;
  options.timeout_seconds = 8;  // within the 10 s a writer waits for the lock
  const int fd = open(data_.inf().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  EXPECT_EQ(Run({"-l"}, options).out, "Small\t62x100\tKsL053E0643ABCD\tok\n");
  EXPECT_EQ(Run({"-m", ""}, options).out, "Small\t62x100\tKsL053E0643ABCD\tok\n");
  close(fd);

  // A record that keeps coming back: read past, left where it is.
  const std::string record = data_.inf() + "commit.$$$";
  const std::string planted = dir_ / "record";
  WriteFile(planted, "kstapefmtlpr commit\nend\n");
  const pid_t planter = fork();
  if (planter == 0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < end) {
      if (link(planted.c_str(), record.c_str()) != 0) sched_yield();
    }
    _exit(0);
  }
  RunResult list = Run({"-l"}, options);
  kill(planter, SIGKILL);
  waitpid(planter, nullptr, 0);
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "Small\t62x100\tKsL053E0643ABCD\tok\n");
  unlink(record.c_str());

  // A replace of Small by 29 x 70 mm killed after renaming the func list:
  // its record and the other copies.
  const std::string id = "KsL051D0460BEEF";
  WriteFile(data_.func(), "[CustomTape]\n" + id + "/Small\n[End]\n", 0666);
  WriteFile(data_.paper() + ".$$$", id + "/Small:\t306\t754\n", 0666);
  WriteFile(data_.area() + ".$$$", id + "\t:\t4.32\t8.40\t77.76\t189.72\n", 0666);
  WriteFile(data_.rc() + ".$$$", "MediaSize=" + id + "\n", 0666);
  WriteFile(record,
            "kstapefmtlpr commit\nkslx230func\npaperinflx230pt1\nImagingArea\nkslx230rc\nend\n");
  const std::vector<std::string> left = ListDir(data_.inf());
  const std::string listed = "Small\t29x70\t" + id + "\tok\n";
  options.without_root_overrides = true;
  if (geteuid() == 0) {
    options.run_as = 65534;  // lpd's user, who may not write inf/
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  }
  EXPECT_EQ(Run({"-l"}, options).out, listed);
  EXPECT_EQ(Run({"-m", "Small"}, options).out, listed);
  EXPECT_EQ(Run({"-m", ""}, options).out, listed);
  EXPECT_EQ(ListDir(data_.inf()), left);
  RunResult writer = Run({"-P", "LX-230", "-d", "No such format"});
  EXPECT_EQ(writer.out, "Not found 'No such format'\n");
  EXPECT_EQ(writer.err, "");
  EXPECT_EQ(ListDir(data_.inf()).size(), 4u);
  EXPECT_EQ(Run({"-l"}).out, listed);

  // A record a power cut left as zeros, and copies beside it (one only its
  // owner may read, as a crash before a copy was given its mode leaves it):
  // the old files to a reader; the next writer removes them all, saying so
  // in one line.
  WriteFile(record, std::string(60, '\0'));
  WriteFile(data_.func() + ".$$$", "garbage\n", 0666);
  WriteFile(data_.rc() + ".$$$", "MediaSize=garbage\n", 0600);
  EXPECT_EQ(Run({"-l"}, options).out, listed);
  writer = Run({"-P", "LX-230", "-d", "No such format"});
  EXPECT_EQ(writer.status, 0);
  EXPECT_EQ(writer.err, "kstapefmtlpr_lx230: ./lx230/inf/commit.$$$: was no complete commit record "
                        "(cut short by a crash, or not the tool's): removed, with the copies "
                        "staged beside it\n");
  EXPECT_EQ(ListDir(data_.inf()).size(), 4u);
  EXPECT_EQ(Run({"-l"}).out, listed);
}

// An add or a delete by a user without the rights to the data set names
// what it could not change, and says what to do.
TEST_F(ToolProgramTest, AChangeWithoutTheRightsSaysToRunItAsRoot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run the tool as another user";
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  RunOptions options;
  options.run_as = 65534;
  const std::string hint =
      " (adding and deleting formats needs the rights to the data set: run it as root, with "
      "sudo)\n";
  RunResult add = Run({"-P", "LX-230", "-n", "New", "-w", "29", "-h", "70"}, options);
  EXPECT_EQ(add.status, 255);
  EXPECT_EQ(add.out, "./lx230/inf/kslx230func.$$$: Permission denied" + hint);
  RunResult del = Run({"-P", "LX-230", "-d", "Small"}, options);
  EXPECT_EQ(del.status, 255);
  EXPECT_EQ(del.out, "./lx230/inf/kslx230func.$$$: Permission denied" + hint);
  EXPECT_EQ(Run({"-l"}, options).status, 0);  // reading needs no rights but to read
}

// A parent that ignores SIGCHLD must not make the spooler-side tool's
// success look like a failure.
TEST_F(ToolProgramTest, RunsWhenTheParentIgnoresSigchld) {
  RunOptions options;
  options.ignore_sigchld = true;
  RunResult add = Run({"-P", "LX-230", "-n", "New", "-w", "29", "-h", "70"}, options);
  EXPECT_EQ(add.status, 0);
  EXPECT_EQ(add.out, "");
  EXPECT_NE(ReadFile(data_.paper()).find("/New:\t306\t754\n"), std::string::npos);
}

}  // namespace
