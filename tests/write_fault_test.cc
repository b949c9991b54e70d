// Write faults at every byte of every rewrite of an add and a delete: the
// file being rewritten keeps its exact content and permission bits, files
// after it are untouched, files before it have their complete new content,
// no temporary file is left, and the run ends with 255 and the error text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "lineio/rewrite.h"
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

Outcome RunInProcess(const DataSet& data, const std::vector<std::string>& args) {
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
  DataSet data(dir.path());

  // A run without faults tells which files are rewritten, in which order,
  // and what each becomes.
  data.WriteSample();
  const std::vector<std::string> old_content = {kSampleFunc, kSamplePaper, kSampleRc,
                                                kSampleArea};
  const std::vector<std::string> paths = {data.func(), data.paper(), data.rc(), data.area()};
  fault_rewrite = -1;
  ASSERT_EQ(RunInProcess(data, args).status, 0);
  const std::vector<std::string> order = rewritten_paths;
  std::vector<std::string> new_content;
  std::vector<size_t> new_size;
  for (const std::string& path : paths) {
    new_content.push_back(WithoutIds(ReadFile(path)));
    new_size.push_back(ReadFile(path).size());
  }
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
      EXPECT_EQ(outcome.out, "No space left on device\n");
      for (size_t f = 0; f < paths.size(); ++f) {
        bool before = std::find(order.begin(), order.begin() + static_cast<long>(j),
                                paths[f].substr(data.inf().size())) !=
                      order.begin() + static_cast<long>(j);
        if (before) {
          EXPECT_EQ(WithoutIds(ReadFile(paths[f])), new_content[f]) << paths[f];
        } else {
          EXPECT_EQ(ReadFile(paths[f]), old_content[f]) << paths[f];
          EXPECT_EQ(PermissionBits(paths[f]), 0644u) << paths[f];
        }
      }
      EXPECT_EQ(ListDir(data.inf()).size(), 4u);
      if (HasFailure()) return;
    }
  }
  RecordProperty("faults_injected", faults);
  printf("write faults injected: %d\n", faults);
}

INSTANTIATE_TEST_SUITE_P(
    AddAndDelete, WriteFaultTest,
    ::testing::Values(std::vector<std::string>{"-P", "LX-230", "-n", "New Label Format", "-w",
                                               "29", "-h", "70"},
                      std::vector<std::string>{"-P", "LX-230", "-d", "Small"}),
    [](const auto& info) { return info.index == 0 ? std::string("Add") : std::string("Delete"); });

}  // namespace
