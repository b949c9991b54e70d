// Write faults at every byte of every rewrite of an add and a delete, and
// then each call that makes the change take effect failing or cut short by
// a crash: the data files are all exactly as before or all as after, and
// nothing is left beside them once the next run has recovered.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "tool/dir_ops.h"
#include "tool/transaction.h"
#include "tests/reader_view.h"
#include "tests/test_util.h"
#include "tool/run_tool.h"

namespace {

// The fault plan, read by the seam.
int rewrite_count = 0;
int fault_rewrite = -1;
size_t fault_bytes = 0;
std::vector<std::string> rewritten_paths;  // names within the data directory

size_t FaultLimit(const char* name) {
  rewritten_paths.push_back(name);
  return rewrite_count++ == fault_rewrite ? fault_bytes : SIZE_MAX;
}

// Identifiers depend on the time of day; compare content without them.
std::string WithoutIds(const std::string& text) {
  static const std::regex id("KsL[0-9A-F]{12,}");
  return std::regex_replace(text, id, "KsL<id>");
}

struct Outcome {
  int status;
  std::string out;
};

Outcome RunInProcess(const TestData& data, const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"kstapefmtlpr_lx230"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  FILE* out = tmpfile();
  rewrite_count = 0;
  rewritten_paths.clear();
  int status = RunTool(static_cast<int>(argv.size()), argv.data(), data.root, out);
  fflush(out);
  rewind(out);
  std::string text;
  char buffer[256];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, n);
  fclose(out);
  return {status, text};
}

class WriteFaultTest : public ::testing::TestWithParam<std::vector<std::string>> {
 protected:
  void SetUp() override { SetTempByteLimitForTesting(FaultLimit); }
  void TearDown() override {
    SetTempByteLimitForTesting(nullptr);
    fault_rewrite = -1;
  }
};

TEST_P(WriteFaultTest, EveryByteOfEveryRewrite) {
  const std::vector<std::string>& args = GetParam();
  TempDir dir;
  TestData data(dir.path());

  // A run without faults tells which files are rewritten, in which order,
  // and what each becomes.
  data.WriteSample();
  const std::vector<std::string> old_content = {kSampleFunc, kSamplePaper, kSampleRc,
                                                kSampleArea};
  const std::vector<std::string> paths = {data.func(), data.paper(), data.rc(), data.area()};
  fault_rewrite = -1;
  ASSERT_EQ(RunInProcess(data, args).status, 0);
  const std::vector<std::string> order = rewritten_paths;
  std::vector<size_t> new_size;
  for (const std::string& path : paths) new_size.push_back(ReadFile(path).size());
  ASSERT_GE(order.size(), 3u);

  int faults = 0;
  for (size_t j = 0; j < order.size(); ++j) {
    size_t file = static_cast<size_t>(
        std::find_if(paths.begin(), paths.end(),
                     [&](const std::string& path) { return path == data.inf() + order[j]; }) -
        paths.begin());
    ASSERT_LT(file, paths.size());
    for (size_t k = 0; k < new_size[file]; ++k) {
      data.WriteSample();
      fault_rewrite = static_cast<int>(j);
      fault_bytes = k;
      Outcome outcome = RunInProcess(data, args);
      SCOPED_TRACE("rewrite " + order[j] + " failing after " + std::to_string(k) + " bytes");
      ++faults;
      EXPECT_EQ(outcome.status, -1);
      EXPECT_EQ(outcome.out, data.inf() + order[j] + ": No space left on device\n");
      for (size_t f = 0; f < paths.size(); ++f) {
        EXPECT_EQ(ReadFile(paths[f]), old_content[f]) << paths[f];
        EXPECT_EQ(PermissionBits(paths[f]), 0644u) << paths[f];
      }
      EXPECT_EQ(ListDir(data.inf()).size(), 4u);
      if (HasFailure()) return;
    }
  }
  RecordProperty("faults_injected", faults);
  printf("write faults injected: %d\n", faults);
}

// The calls that make a change take effect, as the seam sees them.
std::vector<std::string> ops;
int op_count = 0;
int op_fault = -1;      // this call fails with EIO
int op_crash = -1;      // the process ends before this call
const char* const kOpNames[] = {"create", "sync", "syncdir", "rename", "remove"};

int OpHook(DirOp op, const char* name) {
  const int index = op_count++;
  if (index == op_crash) _exit(9);
  ops.push_back(std::string(kOpNames[static_cast<int>(op)]) + " " + name);
  return index == op_fault ? EIO : 0;
}

class CommitTest : public ::testing::TestWithParam<std::vector<std::string>> {
 protected:
  void SetUp() override { SetDirOpHookForTesting(OpHook); }
  void TearDown() override {
    SetDirOpHookForTesting(nullptr);
    op_fault = op_crash = -1;
  }
  Outcome Run(const TestData& data, const std::vector<std::string>& args) {
    ops.clear();
    op_count = 0;
    return RunInProcess(data, args);
  }
};

// Each copy is on disk before the record, the record before the directory
// that makes it count, and the renames before the record goes: a power cut
// at any moment leaves either no complete record (and the old files) or a
// complete record over complete copies. Dropping or moving any of these
// flushes fails this test.
TEST_P(CommitTest, FlushesComeInTheOrderTheCommitNeeds) {
  TempDir dir;
  TestData data(dir.path());
  data.WriteSample();
  const bool add = GetParam()[2] == "-n";
  ASSERT_EQ(Run(data, GetParam()).status, 0);
  std::vector<std::string> files = {"kslx230func", "paperinflx230pt1", "ImagingArea"};
  if (!add) files.push_back("kslx230rc");
  std::vector<std::string> expected;
  for (const std::string& file : files) {
    expected.insert(expected.end(), {"create " + file + ".$$$", "sync " + file + ".$$$"});
  }
  expected.insert(expected.end(), {"create commit.$$$", "sync commit.$$$", "syncdir ."});
  for (const std::string& file : files) expected.push_back("rename " + file);
  expected.insert(expected.end(), {"syncdir .", "remove commit.$$$"});
  EXPECT_EQ(ops, expected);
}

// What the message of a failing step names: the copy it creates, the data
// file whose copy it flushes, the record, the copy it renames, or the
// directory.
std::string NamedBy(const TestData& data, const std::string& step) {
  const std::string name = step.substr(step.find(' ') + 1);
  if (step.rfind("sync ", 0) == 0 && name != "commit.$$$") {
    return data.inf() + name.substr(0, name.size() - 4);
  }
  if (step.rfind("rename ", 0) == 0) return data.inf() + name + ".$$$";
  if (name == ".") return data.inf().substr(0, data.inf().size() - 1);
  return data.inf() + name;
}

// Each of those calls failing, and the process ending just before it: up to
// the record, the data set is as before; from then on the change stands.
// A reader, meanwhile, sees all old or all new and changes nothing; the
// next writer (here a delete of a name no file holds) completes what the
// change left. Nothing is left behind.
TEST_P(CommitTest, EveryCallFailingOrCutShort) {
  TempDir dir;
  TestData data(dir.path());
  data.WriteSample();
  const std::vector<std::string> before = data.Snapshot();
  ASSERT_EQ(Run(data, GetParam()).status, 0);
  const std::vector<std::string> steps = ops;
  std::vector<std::string> after;
  for (const std::string& content : data.Snapshot()) after.push_back(WithoutIds(content));
  const size_t record = static_cast<size_t>(
      std::find(steps.begin(), steps.end(), "create commit.$$$") - steps.begin());
  ASSERT_LT(record, steps.size());

  auto same = [&](std::vector<std::string> now, bool changed) {
    if (changed) {
      for (std::string& content : now) content = WithoutIds(content);
    }
    return now == (changed ? after : before);
  };
  // Read, then recovered by the next writer.
  auto expect = [&](bool changed, const std::string& what) {
    const std::vector<std::string> names = ListDir(data.inf());
    EXPECT_TRUE(same(ReaderView(data), changed)) << what << ": read";
    EXPECT_EQ(ListDir(data.inf()), names) << what << ": the reader changed the directory";
    const Outcome recovered = Run(data, {"-P", "LX-230", "-d", "No such format"});
    EXPECT_EQ(recovered.status, 0) << what << ": " << recovered.out;
    EXPECT_TRUE(same(data.Snapshot(), changed)) << what << ": recovered";
    EXPECT_EQ(ListDir(data.inf()).size(), 4u) << what;
  };
  for (size_t k = 0; k < steps.size(); ++k) {
    data.WriteSample();
    op_fault = static_cast<int>(k);
    Outcome outcome = Run(data, GetParam());
    op_fault = -1;
    const bool last = k + 1 == steps.size();  // the record's removal: done all the same
    EXPECT_EQ(outcome.status, last ? 0 : -1) << "failing " << steps[k];
    EXPECT_EQ(outcome.out, last ? "" : NamedBy(data, steps[k]) + ": Input/output error\n")
        << "failing " << steps[k];
    if (k <= record + 2) {
      EXPECT_TRUE(same(data.Snapshot(), false)) << "failing " << steps[k];
    }
    expect(k > record + 2, "failing " + steps[k]);

    data.WriteSample();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      op_crash = static_cast<int>(k);
      Run(data, GetParam());
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << "crash before " << steps[k];
    expect(k > record, "crash before " + steps[k]);
    if (HasFailure()) return;
  }
}

const std::vector<std::string> kAdd = {"-P", "LX-230", "-n", "New Label Format", "-w", "29",
                                       "-h", "70"};
const std::vector<std::string> kDelete = {"-P", "LX-230", "-d", "Small"};
std::string AddOrDelete(const ::testing::TestParamInfo<std::vector<std::string>>& info) {
  return info.index == 0 ? "Add" : "Delete";
}
INSTANTIATE_TEST_SUITE_P(AddAndDelete, WriteFaultTest, ::testing::Values(kAdd, kDelete),
                         AddOrDelete);
INSTANTIATE_TEST_SUITE_P(AddAndDelete, CommitTest, ::testing::Values(kAdd, kDelete), AddOrDelete);

}  // namespace
