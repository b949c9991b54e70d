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
#include <array>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/reader_view.h"
#include "tests/test_util.h"
#include "tool/transaction.h"

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

// The tool run under ptrace, stopped at the entry of each of its steps in
// turn (the call not made yet).
class Tracer {
 public:
  // |reads|: opens for reading are steps too.
  Tracer(const std::string& cwd, const std::string& inf, const std::vector<std::string>& args,
         bool reads = false)
      : inf_(inf), reads_(reads), pid_(Start(cwd, args, true)) {
    int status = 0;
    waitpid(pid_, &status, 0);  // stopped at the exec
    if (!WIFSTOPPED(status)) {
      ended_ = untraceable_ = true;
      return;
    }
    ptrace(PTRACE_SETOPTIONS, pid_, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  }
  ~Tracer() { Kill(); }

  bool untraceable() const { return untraceable_; }
  pid_t pid() const { return pid_; }

  // Runs the tool to the entry of its next step: false once it has ended.
  bool Next(Step* step) {
    int status = 0, signal = 0;
    while (!ended_) {
      ptrace(PTRACE_SYSCALL, pid_, nullptr, signal);
      if (waitpid(pid_, &status, 0) != pid_ || !WIFSTOPPED(status)) {
        ended_ = true;
        break;
      }
      signal = 0;
      if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
        signal = WSTOPSIG(status);  // delivered on
        continue;
      }
      __ptrace_syscall_info info{};
      ptrace(PTRACE_GET_SYSCALL_INFO, pid_, reinterpret_cast<void*>(sizeof info), &info);
      if (info.op == PTRACE_SYSCALL_INFO_ENTRY && StepOf(pid_, info, inf_, reads_, step)) {
        return true;
      }
    }
    return false;
  }

  void Kill() {
    if (ended_) return;
    kill(-pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    ended_ = true;
  }

 private:
  std::string inf_;
  bool reads_;
  pid_t pid_;
  bool ended_ = false;
  bool untraceable_ = false;
};

// Runs the tool traced; |at_step| is called at the entry of each step with
// its number from 0, and returns whether to kill the tool there.
Traced Trace(const std::string& cwd, const std::string& inf, const std::vector<std::string>& args,
             const std::function<bool(int, pid_t, const Step&)>& at_step, bool reads = false) {
  Tracer tracer(cwd, inf, args, reads);
  if (tracer.untraceable()) return Traced::kUntraceable;
  Step step;
  for (int steps = 0; tracer.Next(&step); ++steps) {
    if (at_step(steps, tracer.pid(), step)) {
      tracer.Kill();
      return Traced::kKilled;
    }
  }
  return Traced::kEnded;
}

constexpr char kUntraceable[] =
    "this process cannot trace another here (a 32-bit build run through qemu-user, which has "
    "no ptrace): the native suite runs these checks";

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

  // Lays out what survives the power cut in the data directory |dir|: a
  // file's bytes written since its last flush are lost (|trashed| false),
  // or, as a disk may leave them, trashed: there, but as garbage.
  void LayOut(const std::string& dir, bool trashed) const {
    for (const auto& [name, inode] : entries_) {
      auto content = content_.find(inode);
      std::string bytes = content == content_.end() ? "" : content->second;
      struct stat st;
      if (trashed && lstat((inf_ + name).c_str(), &st) == 0 && st.st_ino == inode) {
        const std::string now = ReadFile(inf_ + name);
        if (now != bytes) {
          // Zeros for a file never flushed, as a power cut leaves most
          // often; other garbage past what was flushed.
          const std::string kept = bytes.substr(0, std::min(bytes.size(), now.size()));
          bytes = kept + std::string(now.size() - kept.size(), bytes.empty() ? '\0' : '\xA5');
        }
      }
      WriteFile(dir + name, bytes, 0666);
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
  static std::vector<std::string> Normalized(const std::vector<std::string>& contents) {
    static const std::regex fresh("KsL051D046[0-9A-F]{5}");
    std::vector<std::string> files;
    for (const std::string& content : contents) {
      files.push_back(std::regex_replace(content, fresh, "KsL<new>"));
    }
    return files;
  }

  // All old (|expect_new| false) or all new: first as a reader sees it,
  // changing nothing; then as the next writer (a delete of a name no file
  // holds) leaves it, with nothing else in the directory.
  void ExpectRecovered(const TestData& data, bool expect_new, const std::string& what) {
    const std::vector<std::string> names = ListDir(data.inf());
    ExpectState(Normalized(ReaderView(data)), expect_new, what + ", read");
    EXPECT_EQ(ListDir(data.inf()), names) << what << ": the reader changed the directory";
    RunOptions options;
    options.cwd = data.root;
    const RunResult recovered = RunProgram(
        KS_TOOL_BINARY, {"kstapefmtlpr_lx230", "-P", "LX-230", "-d", "No such format"}, options);
    EXPECT_EQ(recovered.status, 0) << what << ": " << recovered.out;
    ExpectState(Normalized(data.Snapshot()), expect_new, what + ", recovered");
    EXPECT_EQ(ListDir(data.inf()).size(), 4u) << what;
  }

  void ExpectState(const std::vector<std::string>& files, bool expect_new,
                   const std::string& what) {
    if (expect_new) {
      EXPECT_TRUE(files == new_) << what << ": not all new";
    } else {
      EXPECT_TRUE(files == Normalized(old_.Snapshot())) << what << ": not all old";
    }
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
      new_ = Normalized(data.Snapshot());
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
      // A power cut just before this step, unflushed bytes lost or trashed.
      for (bool trashed : {false, true}) {
        for (const std::string& name : ListDir(cut.inf())) unlink((cut.inf() + name).c_str());
        disk.LayOut(cut.inf(), trashed);
        ExpectRecovered(cut, n > commit_step,
                        (trashed ? "power cut, unflushed bytes trashed, at " : "power cut at ") + at);
      }
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
    if (traced == Traced::kUntraceable) GTEST_SKIP() << kUntraceable;
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
    GTEST_SKIP() << kUntraceable;
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
  Exercise("recovery", {"kstapefmtlpr_lx230", "-P", "LX-230", "-d", "No such format"},
           interrupted, true);
}

// An add, new or replacing, and a delete read each data file once: they
// look for the old format and check the new identifier while they copy. So
// does a listing of a data set as the tool leaves it (its snapshot opens
// the rc file too, unread).
TEST_F(CrashTest, AnAddADeleteOrAListingReadsEachDataFileOnce) {
  struct Run {
    std::vector<std::string> args;
    int rc_opens;
    const char* entered;  // a line the func list has afterwards
  };
  const Run kRuns[] = {
      {{"-P", "LX-230", "-n", "Fresh", "-w", "29", "-h", "70"}, 0, "/Fresh\n"},
      {{"-P", "LX-230", "-n", "Crash", "-w", "29", "-h", "70"}, 1, "/Crash\n"},
      {{"-P", "LX-230", "-d", "Crash"}, 1, "[CustomTape]\nTail0"},
      {{"-l"}, 1, nullptr},
  };
  for (const Run& run : kRuns) {
    std::vector<std::string> args = {"kstapefmtlpr_lx230"};
    args.insert(args.end(), run.args.begin(), run.args.end());
    SCOPED_TRACE(args[1] + " " + args.back());
    TempDir dir;
    TestData data(dir.path());
    Restore(data);
    std::map<std::string, int> opens;
    const Traced traced = Trace(
        data.root, data.inf(), args,
        [&](int, pid_t, const Step& step) {
          if (step.kind == Step::kRead) ++opens[step.name];
          return false;
        },
        true);
    if (traced == Traced::kUntraceable) GTEST_SKIP() << kUntraceable;
    EXPECT_EQ(opens[Basename(data.func())], 1);
    EXPECT_EQ(opens[Basename(data.paper())], 1);
    EXPECT_EQ(opens[Basename(data.area())], 1);
    EXPECT_EQ(opens[Basename(data.rc())], run.rc_opens);
    if (run.entered != nullptr) {
      EXPECT_NE(ReadFile(data.func()).find(run.entered), std::string::npos);
    }
  }
}

// A reader beside a writer: with the writer stopped at each step of an add,
// a replace and a delete from just before its commit record on, a reader
// takes its snapshot, and during its first try the writer goes on: after
// the reader's look at the record or after one of its opens, by one or two
// steps or to its end; or by a few steps after the look and one more after
// an open. The reader sees all old or all new, and changes nothing.
TEST_F(CrashTest, AReaderBesideAWriterAtEveryStepSeesOneStateOrTheOther) {
  Restore(old_);
  const std::vector<std::vector<std::string>> operations = {
      {"kstapefmtlpr_lx230", "-P", "LX-230", "-n", "Fresh", "-w", "29", "-h", "70"},
      {"kstapefmtlpr_lx230", "-P", "LX-230", "-n", "Crash", "-w", "29", "-h", "70"},
      {"kstapefmtlpr_lx230", "-P", "LX-230", "-d", "Crash"}};
  // The steps the writer takes at each of the reader's five hook points:
  // after its look at the record, and after each of its four opens.
  std::vector<std::array<int, 5>> plans;
  for (int point = 0; point < 5; ++point) {
    for (int steps : {1, 2, 1000}) {
      std::array<int, 5> plan{};
      plan[point] = steps;
      plans.push_back(plan);
    }
  }
  for (int first = 1; first <= 5; ++first) {
    for (int point = 1; point < 5; ++point) {
      std::array<int, 5> plan{};
      plan[0] = first;
      plan[point] = 1;
      plans.push_back(plan);
    }
  }
  static Tracer* writer = nullptr;
  static const std::array<int, 5>* plan = nullptr;
  int tried = 0;
  for (const std::vector<std::string>& args : operations) {
    SCOPED_TRACE(args[3] + " " + args[4]);
    TempDir dir;
    TestData data(dir.path());
    Restore(data);
    int record_step = -1, steps = 0;
    {
      Tracer tracer(data.root, data.inf(), args);
      if (tracer.untraceable()) GTEST_SKIP() << kUntraceable;
      for (Step step; tracer.Next(&step); ++steps) {
        if (step.kind == Step::kCreate && step.name == kRecord) record_step = steps;
      }
    }
    ASSERT_GE(record_step, 1);
    new_ = Normalized(data.Snapshot());
    const std::vector<std::string> old_files = Normalized(old_.Snapshot());
    for (int k = record_step - 1; k < steps; ++k) {
      for (const std::array<int, 5>& each : plans) {
        Restore(data);
        Tracer tracer(data.root, data.inf(), args);
        Step step;
        for (int n = 0; n <= k; ++n) ASSERT_TRUE(tracer.Next(&step));
        writer = &tracer;
        plan = &each;
        SetSnapshotHookForTesting([](int attempt, size_t opened) {
          Step next;
          for (int i = 0; attempt == 0 && i < (*plan)[opened] && writer->Next(&next); ++i) {
          }
        });
        const std::vector<std::string> seen = Normalized(ReaderView(data));
        SetSnapshotHookForTesting(nullptr);
        ++tried;
        EXPECT_TRUE(seen == new_ || seen == old_files)
            << "writer stopped at step " << k << " (" << step.name << "), then on by " << each[0]
            << ", " << each[1] << ", " << each[2] << ", " << each[3] << ", " << each[4] << " steps";
        tracer.Kill();
        if (HasFailure()) return;
      }
    }
  }
  printf("reader snapshots beside a writer: %d\n", tried);
}

}  // namespace
