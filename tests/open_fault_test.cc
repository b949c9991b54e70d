// Each data file in turn missing or unreadable, and the data directory
// unwritable: the run gives the documented outcome, changes the files it is
// meant to change before the failure, and nothing after it. Run as an
// ordinary user (root would read and write regardless).
#include <sys/stat.h>
#include <unistd.h>
#include <pwd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

enum class Fault { kMissing, kUnreadable, kDirectoryUnwritable };

struct Case {
  const char* label;
  bool add;        // add "New" or delete "Small"
  Fault fault;
  int file;        // 0 func, 1 paper, 2 rc, 3 area (unused for the directory)
  int status;
  const char* out;
  const char* changed;  // per file: 'C' changed, 'U' as it was
};

const char kNoFile[] = "No such file or directory\n";
const char kDenied[] = "Permission denied\n";

const Case kCases[] = {
    {"DeleteFuncMissing", false, Fault::kMissing, 0, 0, "Not found 'Small'\n", "UUUU"},
    {"DeleteFuncUnreadable", false, Fault::kUnreadable, 0, 0, "Not found 'Small'\n", "UUUU"},
    {"DeletePaperMissing", false, Fault::kMissing, 1, 0, "Not found 'Small'\n", "CUUU"},
    {"DeletePaperUnreadable", false, Fault::kUnreadable, 1, 0, "Not found 'Small'\n", "CUUU"},
    {"DeleteRcMissing", false, Fault::kMissing, 2, 0, "", "CCUC"},
    {"DeleteRcUnreadable", false, Fault::kUnreadable, 2, 255, kDenied, "CCUU"},
    {"DeleteAreaMissing", false, Fault::kMissing, 3, 255, kNoFile, "CCCU"},
    {"DeleteAreaUnreadable", false, Fault::kUnreadable, 3, 255, kDenied, "CCCU"},
    {"DeleteDirectoryUnwritable", false, Fault::kDirectoryUnwritable, 0, 255, kDenied, "UUUU"},
    {"AddFuncMissing", true, Fault::kMissing, 0, 255, kNoFile, "UUUU"},
    {"AddFuncUnreadable", true, Fault::kUnreadable, 0, 255, kDenied, "UUUU"},
    {"AddPaperMissing", true, Fault::kMissing, 1, 255, kNoFile, "CUUU"},
    {"AddPaperUnreadable", true, Fault::kUnreadable, 1, 255, kDenied, "CUUU"},
    {"AddRcMissing", true, Fault::kMissing, 2, 0, "", "CCUC"},
    {"AddRcUnreadable", true, Fault::kUnreadable, 2, 0, "", "CCUC"},
    {"AddAreaMissing", true, Fault::kMissing, 3, 255, kNoFile, "CCUU"},
    {"AddAreaUnreadable", true, Fault::kUnreadable, 3, 255, kDenied, "CCUU"},
    {"AddDirectoryUnwritable", true, Fault::kDirectoryUnwritable, 0, 255, kDenied, "UUUU"},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

// Hands a tree to the user the test runs the tool as.
void GiveTree(const std::string& path, uid_t uid, gid_t gid) {
  lchown(path.c_str(), uid, gid);
  for (const std::string& name : ListDir(path)) GiveTree(path + "/" + name, uid, gid);
}

class OpenFaultTest : public ::testing::TestWithParam<Case> {};

TEST_P(OpenFaultTest, OutcomeAndFilesTouched) {
  const Case& c = GetParam();
  TempDir dir;
  DataSet data(dir.path());
  data.WriteSample();
  const std::vector<std::string> paths = {data.func(), data.paper(), data.rc(), data.area()};
  const std::vector<std::string> sample = {kSampleFunc, kSamplePaper, kSampleRc, kSampleArea};
  if (geteuid() == 0) {
    passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    GiveTree(dir.path(), nobody->pw_uid, nobody->pw_gid);
  }
  switch (c.fault) {
    case Fault::kMissing: unlink(paths[c.file].c_str()); break;
    case Fault::kUnreadable: chmod(paths[c.file].c_str(), 0); break;
    case Fault::kDirectoryUnwritable: chmod(data.inf().c_str(), 0555); break;
  }

  std::vector<std::string> args = {"kstapefmtlpr_lx230", "-P", "LX-230"};
  if (c.add) {
    args.insert(args.end(), {"-n", "New", "-w", "29", "-h", "70"});
  } else {
    args.insert(args.end(), {"-d", "Small"});
  }
  RunOptions options;
  options.cwd = dir.path();
  options.as_nobody = true;
  RunResult result = RunProgram(KS_TOOL_BINARY, args, options);
  chmod(data.inf().c_str(), 0755);

  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.out, c.out);
  for (int f = 0; f < 4; ++f) {
    SCOPED_TRACE(paths[f]);
    if (c.fault != Fault::kDirectoryUnwritable && f == c.file) {
      if (c.fault == Fault::kMissing) {
        EXPECT_FALSE(Exists(paths[f]));
      } else {
        EXPECT_EQ(PermissionBits(paths[f]), 0u);
      }
      continue;
    }
    std::string content = ReadFile(paths[f]);
    if (c.changed[f] == 'U') {
      EXPECT_EQ(content, sample[f]);
      EXPECT_EQ(PermissionBits(paths[f]), 0644u);
    } else {
      EXPECT_NE(content, sample[f]);
      EXPECT_EQ(PermissionBits(paths[f]), 0666u);
      if (c.add) {
        EXPECT_NE(content.find("KsL031D046"), std::string::npos);
      } else {
        EXPECT_EQ(content.find("KsL053E0643ABCD"), std::string::npos);
      }
    }
  }
  size_t expected_files = c.fault == Fault::kMissing ? 3 : 4;
  EXPECT_EQ(ListDir(data.inf()).size(), expected_files);  // no temporary file left
}

INSTANTIATE_TEST_SUITE_P(EachFile, OpenFaultTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
