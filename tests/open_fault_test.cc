// Each data file in turn missing or unreadable, and the data directory
// unwritable: the run gives the documented outcome and, if it fails,
// changes no file at all. Root runs the
// tool without the capabilities that override permission bits (it would
// read and write regardless). Then each data file
// in turn replaced by what a user who may write the data directory could
// plant there for root's next run.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
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
  const char* named;  // the file of the data directory the message names
  const char* text;   // and what it says of it
  const char* changed;  // per file: 'C' changed, 'U' as it was
};

const char kNoFile[] = "No such file or directory";
const char kDenied[] = "Permission denied";
const char kFunc[] = "kslx230func";
const char kPaper[] = "paperinflx230pt1";
const char kRc[] = "kslx230rc";
const char kArea[] = "ImagingArea";

// A failure at any file changes none: the data set changes as one unit, and
// the spooler-side tool is asked nothing before every file is staged.
const Case kCases[] = {
    {"DeleteFuncMissing", false, Fault::kMissing, 0, 255, kFunc, kNoFile, "UUUU"},
    {"DeleteFuncUnreadable", false, Fault::kUnreadable, 0, 255, kFunc, kDenied, "UUUU"},
    {"DeletePaperMissing", false, Fault::kMissing, 1, 255, kPaper, kNoFile, "UUUU"},
    {"DeletePaperUnreadable", false, Fault::kUnreadable, 1, 255, kPaper, kDenied, "UUUU"},
    {"DeleteRcMissing", false, Fault::kMissing, 2, 0, "", "", "CCUC"},
    {"DeleteRcUnreadable", false, Fault::kUnreadable, 2, 255, kRc, kDenied, "UUUU"},
    {"DeleteAreaMissing", false, Fault::kMissing, 3, 255, kArea, kNoFile, "UUUU"},
    {"DeleteAreaUnreadable", false, Fault::kUnreadable, 3, 255, kArea, kDenied, "UUUU"},
    {"DeleteDirectoryUnwritable", false, Fault::kDirectoryUnwritable, 0, 255, "kslx230func.$$$",
     kDenied, "UUUU"},
    {"AddFuncMissing", true, Fault::kMissing, 0, 255, kFunc, kNoFile, "UUUU"},
    {"AddFuncUnreadable", true, Fault::kUnreadable, 0, 255, kFunc, kDenied, "UUUU"},
    {"AddPaperMissing", true, Fault::kMissing, 1, 255, kPaper, kNoFile, "UUUU"},
    {"AddPaperUnreadable", true, Fault::kUnreadable, 1, 255, kPaper, kDenied, "UUUU"},
    {"AddRcMissing", true, Fault::kMissing, 2, 0, "", "", "CCUC"},
    {"AddRcUnreadable", true, Fault::kUnreadable, 2, 0, "", "", "CCUC"},
    {"AddAreaMissing", true, Fault::kMissing, 3, 255, kArea, kNoFile, "UUUU"},
    {"AddAreaUnreadable", true, Fault::kUnreadable, 3, 255, kArea, kDenied, "UUUU"},
    {"AddDirectoryUnwritable", true, Fault::kDirectoryUnwritable, 0, 255, "kslx230func.$$$",
     kDenied, "UUUU"},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

// The tool's command line: add "New", or delete the sample's "Small".
std::vector<std::string> AddNewOrDeleteSmall(bool add) {
  std::vector<std::string> args = {"kstapefmtlpr_lx230", "-P", "LX-230"};
  if (add) {
    args.insert(args.end(), {"-n", "New", "-w", "29", "-h", "70"});
  } else {
    args.insert(args.end(), {"-d", "Small"});
  }
  return args;
}

class OpenFaultTest : public ::testing::TestWithParam<Case> {};

TEST_P(OpenFaultTest, OutcomeAndFilesTouched) {
  const Case& c = GetParam();
  TempDir dir;
  TestData data(dir.path());
  data.WriteSample();
  const std::vector<std::string> paths = {data.func(), data.paper(), data.rc(), data.area()};
  const std::vector<std::string> sample = {kSampleFunc, kSamplePaper, kSampleRc, kSampleArea};
  switch (c.fault) {
    case Fault::kMissing: unlink(paths[c.file].c_str()); break;
    case Fault::kUnreadable: chmod(paths[c.file].c_str(), 0); break;
    case Fault::kDirectoryUnwritable: chmod(data.inf().c_str(), 0555); break;
  }

  const std::vector<std::string> args = AddNewOrDeleteSmall(c.add);
  RunOptions options;
  options.cwd = dir.path();
  options.without_root_overrides = true;
  data.RecordSpoolerCalls();
  RunResult result = RunProgram(KS_TOOL_BINARY, args, options);
  chmod(data.inf().c_str(), 0755);

  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.out, *c.named == '\0' ? std::string()
                                         : "./lx230/inf/" + std::string(c.named) + ": " + c.text + "\n");
  // A refused change leaves the spooler side as it was too.
  EXPECT_EQ(data.SpoolerCalls().size(), c.status == 0 ? (c.add ? 2u : 1u) : 0u);
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

// A link to a file only root may read, a second hard link to it, a FIFO or
// a directory at a data file's name: no run reads through it, so the secret
// reaches no data file; the run fails with the reason, changing nothing,
// whether it meant to rewrite the file or only to look a name up in it (the
// format could be there); a FIFO does not hang the run.
TEST(PlantedFileTest, IsNeverReadNorCopied) {
  struct Plant {
    const char* label;
    int error;
  };
  // As root, a file that not everyone may read: its group may not (the
  // group could be anyone's), or an ACL entry denies a user.
  const Plant kPlants[] = {{"symlink", ELOOP},    {"hardlink", EACCES},   {"fifo", EPERM},
                           {"directory", EISDIR}, {"group-denied", EACCES}, {"acl-denied", EACCES}};
  struct Step {
    bool add;
    int file;  // 0 func, 1 paper, 2 rc, 3 area
    bool read;  // false: the operation never opens it
  };
  const Step kSteps[] = {{false, 0, true}, {false, 1, true}, {false, 2, true},
                         {false, 3, true}, {true, 0, true},  {true, 1, true},
                         {true, 2, false}, {true, 3, true}};
  const std::string secret = "SECRET KsL053E0643ABCD/Small [CustomTape]\n";
  for (const Plant& plant : kPlants) {
    const bool denied = strstr(plant.label, "denied") != nullptr;
    if (denied && geteuid() != 0) {
      printf("%s: not run: the check applies to root only\n", plant.label);
      continue;
    }
    for (const Step& step : kSteps) {
      TempDir dir;
      TestData data(dir.path());
      data.WriteSample();
      const std::string hidden = dir / "shadow";  // on the same file system
      WriteFile(hidden, secret, 0600);
      const std::vector<std::string> paths = {data.func(), data.paper(), data.rc(), data.area()};
      const std::string& target = paths[step.file];
      unlink(target.c_str());
      int planted = 0;
      if (strcmp(plant.label, "symlink") == 0) planted = symlink(hidden.c_str(), target.c_str());
      if (strcmp(plant.label, "hardlink") == 0) planted = link(hidden.c_str(), target.c_str());
      if (strcmp(plant.label, "fifo") == 0) planted = mkfifo(target.c_str(), 0666);
      if (strcmp(plant.label, "directory") == 0) planted = mkdir(target.c_str(), 0777);
      if (strcmp(plant.label, "group-denied") == 0) WriteFile(target, secret, 0604);
      if (strcmp(plant.label, "acl-denied") == 0) {
        WriteFile(target, secret, 0644);
        // Version 2; owner rw, user 65534 nothing, group r, mask r, others r.
        const uint32_t acl[] = {2,          0x00060001, 0xFFFFFFFF, 0x00000002, 65534,
                                0x00040004, 0xFFFFFFFF, 0x00040010, 0xFFFFFFFF, 0x00040020,
                                0xFFFFFFFF};
        if (setxattr(target.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) != 0) {
          printf("acl-denied: not run: this file system takes no ACL (%s)\n", strerror(errno));
          break;
        }
      }
      ASSERT_EQ(planted, 0) << plant.label;

      const std::vector<std::string> args = AddNewOrDeleteSmall(step.add);
      RunOptions options;
      options.cwd = dir.path();
      options.timeout_seconds = 10;
      // A run that waits on a planted FIFO is ended by the time limit, and
      // fails the checks below.
      RunResult result = RunProgram(KS_TOOL_BINARY, args, options);

      SCOPED_TRACE(std::string(plant.label) + (step.add ? " add " : " delete ") + target);
      if (step.read) {
        EXPECT_EQ(result.status, 255);
        EXPECT_EQ(result.out, "./lx230/inf/" + target.substr(target.rfind('/') + 1) + ": " +
                                  strerror(plant.error) + "\n");
      } else {
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, step.add ? "" : "Not found 'Small'\n");
      }
      for (const std::string& name : ListDir(data.inf())) {
        const std::string path = data.inf() + name;
        EXPECT_EQ(name.find(".$$$"), std::string::npos);
        if (path == target) continue;
        EXPECT_EQ(ReadFile(path).find("SECRET"), std::string::npos) << name;
      }
      EXPECT_EQ(ReadFile(hidden), secret);
      EXPECT_EQ(PermissionBits(hidden), 0600u);
      if (HasFailure()) return;
    }
  }
}

// A data file that everyone may read anyway, with a second name elsewhere
// (say a link a user made from /tmp): handled like any other, the new
// content replaces this name only.
TEST(PlantedFileTest, AWorldReadableFileWithASecondLinkIsHandled) {
  TempDir dir;
  TestData data(dir.path());
  data.WriteSample();
  const std::string outside = dir / "outside";
  ASSERT_EQ(link(data.func().c_str(), outside.c_str()), 0);
  RunOptions options;
  options.cwd = dir.path();
  RunResult result = RunProgram(KS_TOOL_BINARY, AddNewOrDeleteSmall(true), options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(ReadFile(data.func()).find("/New\n"), std::string::npos);
  EXPECT_EQ(ReadFile(outside), kSampleFunc);
}

}  // namespace
