#include "tool/data_set.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lineio/line_reader.h"
#include "tests/test_util.h"
#include "tool/format_id.h"
#include "tool/dir_ops.h"
#include "tool/lookup.h"

namespace {

// What a writer makes of what stands at the record's name: a complete
// record is completed; anything else (cut short, zeros, garbage, names
// that are not the data files, not a plain file) cannot have been
// completed and is removed with the copies, with one warning.
TEST(DataSetTest, ARecordIsCompletedOrDiscardedWithAWarning) {
  TempDir dir;
  TestData data(dir.path());
  data.WriteSample();
  const std::string record = data.inf() + "commit.$$$";
  std::vector<std::string> warnings;
  auto open = [&] {
    DataSet set(data.root, "lx230");
    const Status opened = set.Open(DataSet::Access::kChange);
    warnings = set.warnings();
    return opened;
  };
  auto stage = [&] {
    WriteFile(data.func() + ".$$$", "new func\n", 0666);
    WriteFile(data.area() + ".$$$", "new area\n", 0666);
  };

  stage();
  WriteFile(record, "kstapefmtlpr commit\nkslx230func\nImagingArea\nend\n");
  ASSERT_TRUE(open().ok());
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(data.Snapshot(), (std::vector<std::string>{"new func\n", kSamplePaper, kSampleRc,
                                                       "new area\n"}));
  EXPECT_EQ(ListDir(data.inf()).size(), 4u);

  const std::string secret = dir / "secret";
  WriteFile(secret, "kstapefmtlpr commit\nkslx230func\nend\n", 0600);
  const std::string warning = record +
                              ": was no complete commit record (cut short by a crash, or not the "
                              "tool's): removed, with the copies staged beside it";
  data.WriteSample();
  for (const std::string& damaged :
       {std::string(""), std::string("kstapefmtlpr co"),
        std::string("kstapefmtlpr commit\nkslx230func\nImag"),
        std::string("kstapefmtlpr commit\nkslx230func\nImagingArea\n"),
        std::string("kstapefmtlpr commit\nkslx230func\nImagingArea\ne"), std::string(64, '\0'),
        std::string("kstapefmtlpr commit\n../../etc/passwd\nend\n"),
        std::string("kstapefmtlpr commit\nkslx230func\nkslx230func\nend\n"),
        std::string("kstapefmtlpr commit\nkslx230func\nend\nmore\n"), std::string("garbage"),
        std::string("symlink"), std::string("fifo")}) {
    stage();
    if (damaged == "symlink") {
      ASSERT_EQ(symlink(secret.c_str(), record.c_str()), 0);
    } else if (damaged == "fifo") {
      ASSERT_EQ(mkfifo(record.c_str(), 0666), 0);
    } else {
      WriteFile(record, damaged);
    }
    const Status opened = open();
    ASSERT_TRUE(opened.ok()) << damaged << ": " << opened.Message();
    EXPECT_EQ(warnings, std::vector<std::string>{warning}) << damaged;
    EXPECT_EQ(data.Snapshot(), (std::vector<std::string>{kSampleFunc, kSamplePaper, kSampleRc,
                                                         kSampleArea}))
        << damaged;
    EXPECT_EQ(ListDir(data.inf()).size(), 4u) << damaged;
    EXPECT_EQ(ReadFile(secret), "kstapefmtlpr commit\nkslx230func\nend\n");
  }

  // A complete record, but what stands at a copy's name is not a copy the
  // tool could have made: it is never renamed over a data file, and the run
  // stops naming it.
  const std::string copy = data.func() + ".$$$";
  for (const char* planted : {"symlink", "fifo", "unreadable"}) {
    stage();
    unlink(copy.c_str());
    int error = EACCES;
    if (std::string(planted) == "symlink") {
      ASSERT_EQ(symlink(secret.c_str(), copy.c_str()), 0);
      error = ELOOP;
    } else if (std::string(planted) == "fifo") {
      ASSERT_EQ(mkfifo(copy.c_str(), 0666), 0);
      error = EPERM;
    } else {
      WriteFile(copy, "new func\n", 0600);
    }
    WriteFile(record, "kstapefmtlpr commit\nkslx230func\nend\n");
    const Status opened = open();
    EXPECT_EQ(opened.error(), error) << planted;
    EXPECT_EQ(opened.Message(), copy + ": " + strerror(error));
    EXPECT_EQ(ReadFile(data.func()), kSampleFunc) << planted;
    unlink(record.c_str());
    unlink(copy.c_str());
  }
}

// A recovery whose rename of a committed copy fails stops there, naming
// the copy: the record stays, so that the next writer completes it.
TEST(DataSetTest, ARecoveryThatCannotRenameStopsAndKeepsTheRecord) {
  TempDir dir;
  TestData data(dir.path());
  data.WriteSample();
  const std::string record = data.inf() + "commit.$$$";
  WriteFile(data.func() + ".$$$", "new func\n", 0666);
  WriteFile(record, "kstapefmtlpr commit\nkslx230func\nend\n");
  SetDirOpHookForTesting([](DirOp op, const char*) { return op == DirOp::kRename ? EIO : 0; });
  Status opened;
  {
    DataSet set(data.root, "lx230");
    opened = set.Open(DataSet::Access::kChange);
  }
  SetDirOpHookForTesting(nullptr);
  EXPECT_EQ(opened.Message(), data.func() + ".$$$: Input/output error");
  EXPECT_TRUE(Exists(record));
  EXPECT_EQ(ReadFile(data.func()), kSampleFunc);
  DataSet set(data.root, "lx230");
  ASSERT_TRUE(set.Open(DataSet::Access::kChange).ok());
  EXPECT_EQ(ReadFile(data.func()), "new func\n");
  EXPECT_FALSE(Exists(record));
}

// A reader changes nothing in the data directory, whatever stands there.
TEST(DataSetTest, AReaderLeavesEverythingWhereItIs) {
  TempDir dir;
  TestData data(dir.path());
  data.WriteSample();
  WriteFile(data.inf() + "commit.$$$", "garbage");
  WriteFile(data.func() + ".$$$", "stale\n", 0600);
  const std::vector<std::string> names = ListDir(data.inf());
  DataSet set(data.root, "lx230");
  ASSERT_TRUE(set.Open(DataSet::Access::kRead).ok());
  FILE* in;
  ASSERT_TRUE(set.OpenForReading(DataFile::kFuncList, &in).ok());
  fclose(in);
  EXPECT_EQ(ListDir(data.inf()), names);
  EXPECT_TRUE(set.warnings().empty());
}

}  // namespace
