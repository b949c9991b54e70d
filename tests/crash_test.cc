// Kills the tool with SIGKILL at random moments while it adds to and deletes
// from a large data set, and at each of its renames (as it enters the call,
// so also between two of them): after one listing, which recovers what the
// kill left, the four data files are all exactly old or all exactly new, and
// nothing else is left beside them.
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

// At most this many random kills for each operation, and at least the
// second figure; beyond that, as many as fit the time (a 32-bit build run
// through an emulator is slow).
constexpr int kKillsPerOperation = 100;
constexpr int kMinKillsPerOperation = 20;
constexpr auto kTimePerOperation = std::chrono::seconds(60);

const char kCrashId[] = "KsL053E0643C0DE";

std::string Filler(const char* prefix, int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += prefix + std::to_string(i) + "\t:\t0\t0\t0\t0\n";
  return text;
}

// Starts the tool in |cwd| in a process group of its own, so that a kill
// takes the spooler stand-in along; its listings and messages are not what
// is looked at. |traced|: it stops at the exec for a tracer.
pid_t Start(const std::string& cwd, const std::vector<std::string>& args, bool traced = false) {
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    if (traced) ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(KS_TOOL_BINARY, argv.data());
    _exit(127);
  }
  setpgid(pid, pid);
  return pid;
}

enum class Traced { kKilled, kEnded, kUntraceable };

// Runs the tool traced and kills it as it enters its |n|-th rename (from 0).
// kEnded if it ended first; kUntraceable where a process cannot be traced
// (a 32-bit build run through qemu-user, which has no ptrace).
Traced KillAtRename(const std::string& cwd, const std::vector<std::string>& args, int n) {
  const pid_t pid = Start(cwd, args, true);
  int status = 0;
  waitpid(pid, &status, 0);  // stopped at the exec
  if (!WIFSTOPPED(status)) return Traced::kUntraceable;
  ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  int renames = 0, signal = 0;
  for (;;) {
    ptrace(PTRACE_SYSCALL, pid, nullptr, signal);
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) return Traced::kEnded;
    signal = 0;
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      signal = WSTOPSIG(status);  // delivered on
      continue;
    }
    __ptrace_syscall_info info{};
    ptrace(PTRACE_GET_SYSCALL_INFO, pid, reinterpret_cast<void*>(sizeof info), &info);
    const bool rename = info.op == PTRACE_SYSCALL_INFO_ENTRY &&
                        (info.entry.nr == SYS_renameat || info.entry.nr == SYS_renameat2);
    if (rename && renames++ == n) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      return Traced::kKilled;
    }
  }
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // About 25 MB, so that a kill lands inside a rewrite most of the time.
    pristine_ = {
        "[Tape]\n" + Filler("DK", 20000) + "[CustomTape]\n" + kCrashId + "/Crash\n" +
            Filler("Tail", 150000),
        Filler("Paper", 250000) + kCrashId + "/Crash:\t695\t1108\n",
        std::string("Copies=1\nMediaSize=") + kCrashId + "\n",
        Filler("Area", 250000) + kCrashId + "\t:\t4.32\t8.40\t171.16\t274.63\n",
    };
    Restore();
  }

  std::vector<std::string> Paths() const {
    return {data_.func(), data_.paper(), data_.rc(), data_.area()};
  }

  // The tool never writes into a data file's inode (it renames a new file
  // over it), so only a file with a new inode needs its old content back.
  void Restore() {
    std::vector<std::string> paths = Paths();
    for (const std::string& name : ListDir(data_.inf())) {
      if (std::find(paths.begin(), paths.end(), data_.inf() + name) == paths.end()) {
        unlink((data_.inf() + name).c_str());
      }
    }
    for (size_t f = 0; f < 4; ++f) {
      struct stat st;
      if (lstat(paths[f].c_str(), &st) == 0 && st.st_ino == inode_[f]) continue;
      unlink(paths[f].c_str());
      WriteFile(paths[f], pristine_[f]);
      ASSERT_EQ(lstat(paths[f].c_str(), &st), 0);
      inode_[f] = st.st_ino;
    }
  }

  // Whether the data set is all old or all new (after |add| or the delete),
  // with nothing else in the directory.
  void ExpectOldOrNew(bool add, const std::string& what, int* old_count, int* new_count) {
    std::vector<std::string> paths = Paths();
    std::vector<std::string> content;
    for (const std::string& path : paths) content.push_back(ReadFile(path));
    bool all_new = true;
    for (size_t f = 0; f < 4; ++f) {
      all_new = all_new && (IsNewContent(add, f, content[f]) || (add && f == 2 && content[f] == pristine_[f]));
    }
    ++*(all_new ? new_count : old_count);
    EXPECT_TRUE(content == pristine_ || all_new) << "neither all old nor all new " << what;
    EXPECT_EQ(ListDir(data_.inf()).size(), 4u) << what;
  }

  // Whether |content| of file |f| is the complete result of the operation.
  bool IsNewContent(bool add, size_t f, const std::string& content) const {
    const std::string& old = pristine_[f];
    if (!add) {
      if (f == 2) return content == "Copies=1\nMediaSize=29x90\n";
      size_t at = old.find(kCrashId);
      size_t end = old.find('\n', at) + 1;
      return content.size() == old.size() - (end - at) &&
             content.compare(0, at, old, 0, at) == 0 &&
             content.compare(at, std::string::npos, old, end, std::string::npos) == 0;
    }
    static const std::regex func_line("KsL051D046[0-9A-F]{5}/Fresh\n");
    static const std::regex paper_line("KsL051D046[0-9A-F]{5}/Fresh:\t306\t754\n");
    static const std::regex area_line("KsL051D046[0-9A-F]{5}\t:\t4\\.32\t8\\.40\t77\\.76\t189\\.72\n");
    if (f == 2) return false;  // an add never changes the rc file
    if (f == 0) {
      size_t at = old.find("[CustomTape]\n") + 13;
      size_t added = content.size() - old.size();
      return content.size() > old.size() && content.compare(0, at, old, 0, at) == 0 &&
             content.compare(at + added, std::string::npos, old, at, std::string::npos) == 0 &&
             std::regex_match(content.substr(at, added), func_line);
    }
    return content.size() > old.size() && content.compare(0, old.size(), old) == 0 &&
           std::regex_match(content.substr(old.size()), f == 1 ? paper_line : area_line);
  }

  TempDir dir_;
  TestData data_{dir_.path()};
  std::vector<std::string> pristine_;
  ino_t inode_[4] = {};
};

TEST_F(CrashTest, TheDataSetIsAllOldOrAllNewAfterAKill) {
  const std::vector<std::vector<std::string>> operations = {
      {"kstapefmtlpr_lx230", "-P", "LX-230", "-d", "Crash"},
      {"kstapefmtlpr_lx230", "-P", "LX-230", "-n", "Fresh", "-w", "29", "-h", "70"},
  };
  const std::vector<std::string> list = {"kstapefmtlpr_lx230", "-l"};
  std::mt19937 random(20261208);
  int kills = 0, old_count = 0, new_count = 0, at_rename = 0;
  bool traceable = true;
  for (size_t op = 0; op < operations.size(); ++op) {
    const bool add = op == 1;
    // How long an undisturbed run takes; kills are spread over that time.
    Restore();
    Clock::time_point t0 = Clock::now();
    ASSERT_EQ(Wait(Start(dir_.path(), operations[op])), 0);
    const long run_us =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
    int unused = 0;
    ExpectOldOrNew(add, "after an undisturbed run", &unused, &unused);
    ASSERT_FALSE(HasFailure());

    std::uniform_int_distribution<long> delay(0, run_us);
    const Clock::time_point op_start = Clock::now();
    for (int i = 0; i < kKillsPerOperation; ++i) {
      if (i >= kMinKillsPerOperation && Clock::now() - op_start > kTimePerOperation) break;
      Restore();
      pid_t pid = Start(dir_.path(), operations[op]);
      long us = delay(random);
      timespec pause{us / 1000000, (us % 1000000) * 1000};
      nanosleep(&pause, nullptr);
      kill(-pid, SIGKILL);
      Wait(pid);
      ++kills;
      ASSERT_EQ(Wait(Start(dir_.path(), list)), 0);
      ExpectOldOrNew(add, "after a kill at " + std::to_string(us) + " us", &old_count, &new_count);
      if (HasFailure()) return;
    }
    // The kills above seldom land between two renames: these do.
    for (int n = 0;; ++n) {
      Restore();
      const Traced traced = KillAtRename(dir_.path(), operations[op], n);
      if (traced == Traced::kUntraceable) traceable = false;
      if (traced != Traced::kKilled) break;
      ++kills;
      ++at_rename;
      ASSERT_EQ(Wait(Start(dir_.path(), list)), 0);
      int old_here = 0, new_here = 0;
      ExpectOldOrNew(add, "after a kill at rename " + std::to_string(n), &old_here, &new_here);
      EXPECT_EQ(new_here, 1) << "the change was committed before the first rename";
      new_count += new_here;
      if (HasFailure()) return;
    }
  }
  printf("crash runs: %d kills (%d at a rename), then all old %d times, all new %d times\n",
         kills, at_rename, old_count, new_count);
  if (traceable) {
    EXPECT_EQ(at_rename, 3 + 4);  // an add renames three files, a delete four
  } else {
    printf("crash runs: no kills at the renames: this process cannot trace another here "
           "(a 32-bit build run through an emulator); the random kills stand\n");
  }
  EXPECT_GT(old_count, kills / 10);  // the kills landed both before
  EXPECT_GT(new_count, kills / 10);  // and after the commit
}

}  // namespace
