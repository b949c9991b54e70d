// Stops the real tool at each step that changes its data set (every create,
// flush, rename and remove, seen as system calls through ptrace) and, at
// each one:
// - kills it there: after one listing, which recovers what the kill left,
//   the four data files are all old before the commit point and all new
//   after it, with nothing else beside them;
// - cuts the power there: only what had been flushed by then (file
//   contents at their fsync, directory entries at the directory's fsync)
//   is laid out afresh, and the next run must find it all old or all new;
// - checks that what the step relies on was flushed before it: a copy and
//   the commit record before a rename, the renames before the record goes.
// For an add, a replace, a delete, and the recovery of a replace killed at
// its first rename.
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

const char kCrashId[] = "KsL053E0643C0DE";
const char kRecord[] = "commit.$$$";

// Starts the tool in |cwd| in a process group of its own, so that a kill
// takes the spooler stand-in along; its output is not what is looked at.
// |traced|: it stops at the exec for a tracer.
pid_t Start(const std::string& cwd, const std::vector<std::string>& args, bool traced) {
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


// One step of a run that changes the data directory.
struct Step {
  enum Kind { kCreate, kSyncFile, kSyncDir, kRename, kRemove, kRead } kind;
  std::string name;  // the file it concerns (the rename's source)
  std::string to;    // the rename's target
  int fd = -1;       // the flushed file's descriptor in the tool
};

std::string ReadString(pid_t pid, uint64_t address) {
  std::string text(PATH_MAX, '\0');
  const int mem = open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
  const ssize_t n = pread(mem, text.data(), text.size(), static_cast<off_t>(address));
  close(mem);
  text.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return text.substr(0, text.find('\0'));
}

std::string Basename(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The step a system call entry is, if it is one; an open for reading only
// where |reads| asks for them.
bool StepOf(pid_t pid, const __ptrace_syscall_info& info, const std::string& inf, bool reads,
            Step* step) {
  const auto& a = info.entry.args;
  switch (info.entry.nr) {
    case SYS_openat:
      if ((a[2] & O_CREAT) == 0) {
        if (!reads || (a[2] & O_DIRECTORY) != 0) return false;
        *step = {Step::kRead, Basename(ReadString(pid, a[1])), "", -1};
        return true;
      }
      *step = {Step::kCreate, Basename(ReadString(pid, a[1])), "", -1};
      return true;
    case SYS_fsync:
    case SYS_fdatasync: {
      char target[PATH_MAX] = {};
      const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(a[0]);
      if (readlink(link.c_str(), target, sizeof target - 1) < 0) return false;
      const bool dir = std::string(target) + "/" == inf;
      *step = {dir ? Step::kSyncDir : Step::kSyncFile, Basename(target), "",
               static_cast<int>(a[0])};
      return true;
    }
    case SYS_renameat:
    case SYS_renameat2:
      *step = {Step::kRename, ReadString(pid, a[1]), ReadString(pid, a[3]), -1};
      return true;
    case SYS_unlinkat:
      *step = {Step::kRemove, ReadString(pid, a[1]), "", -1};
      return true;
    default: return false;
  }
}

enum class Traced { kKilled, kEnded, kUntraceable };

// Runs the tool traced; |at_step| is called at the entry of each step (the
// call not made yet) with its number from 0, and returns whether to kill
// the tool there. |reads|: opens for reading are steps too.
Traced Trace(const std::string& cwd, const std::string& inf, const std::vector<std::string>& args,
             const std::function<bool(int, pid_t, const Step&)>& at_step, bool reads = false) {
  const pid_t pid = Start(cwd, args, true);
  int status = 0;
  waitpid(pid, &status, 0);  // stopped at the exec
  if (!WIFSTOPPED(status)) return Traced::kUntraceable;
  ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  int steps = 0, signal = 0;
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
    Step step;
    if (info.op != PTRACE_SYSCALL_INFO_ENTRY || !StepOf(pid, info, inf, reads, &step)) continue;
    if (at_step(steps++, pid, step)) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      return Traced::kKilled;
    }
  }
}

std::string Filler(const char* prefix, int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += prefix + std::to_string(i) + "\t:\t0\t0\t0\t0\n";
  return text;
}

// What the disk holds after a power cut: the directory's entries as at its
// last flush, each file's content as at its last flush (a file never
// flushed holds nothing).
class DiskModel {
 public:
  explicit DiskModel(const std::string& inf) : inf_(inf) {
    SyncDir();
    for (const auto& [name, inode] : entries_) content_[inode] = ReadFile(inf_ + name);
  }

  // What the tool's call |step| makes durable, seen at its entry.
  void Apply(pid_t pid, const Step& step) {
    if (step.kind == Step::kSyncDir) SyncDir();
    if (step.kind == Step::kSyncFile) {
      const std::string fd = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(step.fd);
      struct stat st;
      if (stat(fd.c_str(), &st) == 0) content_[st.st_ino] = ReadFile(fd);
    }
  }

  // Whether |name| stands in the directory durably with the content it has
  // now.
  bool Durable(const std::string& name) const {
    struct stat st;
    if (lstat((inf_ + name).c_str(), &st) != 0) return false;
    auto entry = entries_.find(name);
    auto content = content_.find(st.st_ino);
    return entry != entries_.end() && entry->second == st.st_ino && content != content_.end() &&
           content->second == ReadFile(inf_ + name);
  }
  // Whether |name|'s present content is flushed, wherever it stands.
  bool Flushed(const std::string& name) const {
    struct stat st;
    if (lstat((inf_ + name).c_str(), &st) != 0) return false;
    auto content = content_.find(st.st_ino);
    return content != content_.end() && content->second == ReadFile(inf_ + name);
  }

  // Lays out what survives the power cut in the data directory |dir|.
  void LayOut(const std::string& dir) const {
    for (const auto& [name, inode] : entries_) {
      auto content = content_.find(inode);
      WriteFile(dir + name, content == content_.end() ? "" : content->second, 0666);
    }
  }

 private:
  void SyncDir() {
    entries_.clear();
    for (const std::string& name : ListDir(inf_)) {
      struct stat st;
      if (lstat((inf_ + name).c_str(), &st) == 0) entries_[name] = st.st_ino;
    }
  }

  std::string inf_;
  std::map<std::string, ino_t> entries_;
  std::map<ino_t, std::string> content_;
};

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pristine_ = {
        "[Tape]\n" + Filler("DK", 200) + "[CustomTape]\n" + kCrashId + "/Crash\n" +
            Filler("Tail", 200),
        Filler("Paper", 200) + kCrashId + "/Crash:\t695\t1108\n",
        std::string("Copies=1\nMediaSize=") + kCrashId + "\n",
        Filler("Area", 200) + kCrashId + "\t:\t4.32\t8.40\t171.16\t274.63\n",
    };
  }

  // A fresh data set under |root|, as before the operation.
  void Restore(const TestData& data) const {
    for (const std::string& name : ListDir(data.inf())) unlink((data.inf() + name).c_str());
    const std::vector<std::string> paths = {data.func(), data.paper(), data.rc(), data.area()};
    for (size_t f = 0; f < 4; ++f) WriteFile(paths[f], pristine_[f]);
  }

  // The data files with new identifiers made alike, so that two runs of one
  // operation compare equal.
  static std::vector<std::string> Normalized(const TestData& data) {
    static const std::regex fresh("KsL051D046[0-9A-F]{5}");
    std::vector<std::string> files;
    for (const std::string& content : data.Snapshot()) {
      files.push_back(std::regex_replace(content, fresh, "KsL<new>"));
    }
    return files;
  }

  // After a listing has recovered it: all old (|expect_new| false) or all
  // new, and nothing else in the directory.
  void ExpectRecovered(const TestData& data, bool expect_new, const std::string& what) {
    RunOptions options;
    options.cwd = data.root;
    const RunResult list = RunProgram(KS_TOOL_BINARY, {"kstapefmtlpr_lx230", "-l"}, options);
    EXPECT_EQ(list.status, 0) << what << ": " << list.out;
    const std::vector<std::string> files = Normalized(data);
    if (expect_new) {
      EXPECT_TRUE(files == new_) << what << ": not all new";
    } else {
      EXPECT_TRUE(files == Normalized(old_)) << what << ": not all old";
    }
    EXPECT_EQ(ListDir(data.inf()).size(), 4u) << what;
  }

  // Runs |args| against a data set that |prepare| lays out: undisturbed
  // first, for the new content; then traced, checking each step's
  // durability and a power cut there; then killed at each step in turn.
  void Exercise(const std::string& label, const std::vector<std::string>& args,
                const std::function<void(const TestData&)>& prepare, bool committed_at_start) {
    SCOPED_TRACE(label);
    {
      TempDir dir;
      TestData data(dir.path());
      prepare(data);
      RunOptions options;
      options.cwd = data.root;
      ASSERT_EQ(RunProgram(KS_TOOL_BINARY, args, options).status, 0);
      new_ = Normalized(data);
    }
    TempDir dir;
    TestData data(dir.path());
    prepare(data);
    TempDir cut_dir;
    TestData cut(cut_dir.path());
    DiskModel disk(data.inf());
    // The change stands after a kill from the flush of the commit record on
    // (it was written whole just before), and after a power cut once the
    // directory flush that follows has made the record durable.
    int record_step = committed_at_start ? -1 : INT_MAX;
    int commit_step = committed_at_start ? -1 : INT_MAX;
    int steps = 0;
    const Traced traced = Trace(data.root, data.inf(), args, [&](int n, pid_t pid, const Step& step) {
      const std::string at = "step " + std::to_string(n) + " (" + step.name + ")";
      // A power cut just before this step.
      for (const std::string& name : ListDir(cut.inf())) unlink((cut.inf() + name).c_str());
      disk.LayOut(cut.inf());
      ExpectRecovered(cut, n > commit_step, "power cut at " + at);
      // What this step relies on is on disk.
      if (step.kind == Step::kRename) {
        EXPECT_TRUE(disk.Flushed(step.name)) << at << ": renamed before it was flushed";
        EXPECT_TRUE(committed_at_start || disk.Durable(kRecord))
            << at << ": renamed before the commit record was on disk";
      }
      if (step.kind == Step::kRemove && step.name == kRecord) {
        for (const std::string& file : {data.func(), data.paper(), data.area()}) {
          EXPECT_TRUE(disk.Durable(Basename(file))) << at << ": the record went before "
                                                    << Basename(file) << " was on disk";
        }
      }
      if (step.kind == Step::kSyncFile && step.name == kRecord && record_step == INT_MAX) {
        record_step = n;
      }
      if (step.kind == Step::kSyncDir && commit_step == INT_MAX && disk.Flushed(kRecord)) {
        commit_step = n;
      }
      disk.Apply(pid, step);
      steps = n + 1;
      return false;
    });
    if (traced == Traced::kUntraceable) {
      GTEST_SKIP() << "this process cannot trace another here (a 32-bit build run through "
                      "qemu-user, which has no ptrace): the native suite runs these checks";
    }
    ASSERT_NE(commit_step, INT_MAX) << "no commit point seen";
    ASSERT_GT(steps, 0);
    for (int k = 0; k < steps; ++k) {
      prepare(data);
      EXPECT_EQ(Trace(data.root, data.inf(), args, [&](int n, pid_t, const Step&) { return n == k; }),
                Traced::kKilled);
      ExpectRecovered(data, k >= record_step, "kill at step " + std::to_string(k));
      if (HasFailure()) return;
    }
    printf("%s: %d steps, the commit at step %d\n", label.c_str(), steps, commit_step);
  }

  std::vector<std::string> pristine_;
  TempDir old_dir_;
  TestData old_{old_dir_.path()};  // as before the operation
  std::vector<std::string> new_;   // as after it, normalized
};

TEST_F(CrashTest, EveryStepIsDurableAndAKillOrPowerCutLeavesAllOldOrAllNew) {
  Restore(old_);
  const auto pristine = [&](const TestData& data) { Restore(data); };
  Exercise("add", {"kstapefmtlpr_lx230", "-P", "LX-230", "-n", "Fresh", "-w", "29", "-h", "70"},
           pristine, false);
  Exercise("replace", {"kstapefmtlpr_lx230", "-P", "LX-230", "-n", "Crash", "-w", "29", "-h", "70"},
           pristine, false);
  Exercise("delete", {"kstapefmtlpr_lx230", "-P", "LX-230", "-d", "Crash"}, pristine, false);

  // The recovery: a replace killed as it entered its first rename leaves
  // a committed change for the next run, which must bring it all new.
  const std::vector<std::string> replace = {"kstapefmtlpr_lx230", "-P", "LX-230", "-n",
                                            "Crash", "-w", "29", "-h", "70"};
  TempDir killed_dir;
  TestData killed(killed_dir.path());
  Restore(killed);
  if (Trace(killed.root, killed.inf(), replace,
            [](int, pid_t, const Step& step) { return step.kind == Step::kRename; }) !=
      Traced::kKilled) {
    GTEST_SKIP() << "this process cannot trace another here (a 32-bit build run through "
                    "qemu-user, which has no ptrace): the native suite runs these checks";
  }
  std::map<std::string, std::string> left;
  for (const std::string& name : ListDir(killed.inf())) left[name] = ReadFile(killed.inf() + name);
  const auto interrupted = [&](const TestData& data) {
    Restore(data);
    for (const std::string& name : ListDir(data.inf())) unlink((data.inf() + name).c_str());
    for (const auto& [name, content] : left) WriteFile(data.inf() + name, content, 0666);
  };
  // The old content here is what the replace was to leave.
  interrupted(old_);
  Exercise("recovery", {"kstapefmtlpr_lx230", "-l"}, interrupted, true);
}

// An add, new or replacing, reads each data file once: it looks for the
// old format and checks the new identifier while it copies. So does a
// listing of a data set as the tool leaves it.
TEST_F(CrashTest, AnAddOrAListingReadsEachDataFileOnce) {
  for (const char* name : {"Fresh", "Crash", ""}) {
    SCOPED_TRACE(name);
    TempDir dir;
    TestData data(dir.path());
    Restore(data);
    std::map<std::string, int> opens;
    const std::vector<std::string> args =
        *name != '\0' ? std::vector<std::string>{"kstapefmtlpr_lx230", "-P", "LX-230", "-n", name,
                                                 "-w", "29", "-h", "70"}
                       : std::vector<std::string>{"kstapefmtlpr_lx230", "-l"};
    const Traced traced = Trace(
        data.root, data.inf(), args,
        [&](int, pid_t, const Step& step) {
          if (step.kind == Step::kRead) ++opens[step.name];
          return false;
        },
        true);
    if (traced == Traced::kUntraceable) {
      GTEST_SKIP() << "this process cannot trace another here (a 32-bit build run through "
                      "qemu-user, which has no ptrace): the native suite runs these checks";
    }
    EXPECT_EQ(opens[Basename(data.func())], 1);
    EXPECT_EQ(opens[Basename(data.paper())], 1);
    EXPECT_EQ(opens[Basename(data.area())], 1);
    EXPECT_EQ(opens[Basename(data.rc())], std::string(name) == "Crash" ? 1 : 0);
    if (*name != '\0') {
      EXPECT_NE(ReadFile(data.func()).find(std::string("/") + name + "\n"), std::string::npos);
    }
  }
}

}  // namespace
