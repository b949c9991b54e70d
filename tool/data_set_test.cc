#include "tool/data_set.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lineio/line_reader.h"
#include "tests/test_util.h"
#include "tool/format_id.h"
#include "tool/lookup.h"

namespace {

TEST(DataSetTest, ARecordIsCompletedDiscardedOrRefused) {
  TempDir dir;
  TestData data(dir.path());
  data.WriteSample();
  const std::string record = data.inf() + "commit.$$$";
  auto open = [&] {
    DataSet set(data.root, "lx230");
    return set.Open(DataSet::Access::kChange);
  };
  auto stage = [&] {
    WriteFile(data.func() + ".$$$", "new func\n", 0666);
    WriteFile(data.area() + ".$$$", "new area\n", 0666);
  };

  stage();
  WriteFile(record, "kstapefmtlpr commit\nkslx230func\nImagingArea\nend\n");
  ASSERT_TRUE(open().ok());
  EXPECT_EQ(data.Snapshot(), (std::vector<std::string>{"new func\n", kSamplePaper, kSampleRc,
                                                       "new area\n"}));
  EXPECT_EQ(ListDir(data.inf()).size(), 4u);

  data.WriteSample();
  for (const char* cut : {"", "kstapefmtlpr co", "kstapefmtlpr commit\nkslx230func\nImag",
                          "kstapefmtlpr commit\nkslx230func\nImagingArea\n",
                          "kstapefmtlpr commit\nkslx230func\nImagingArea\ne"}) {
    stage();
    WriteFile(record, cut);
    ASSERT_TRUE(open().ok()) << cut;
    EXPECT_EQ(ReadFile(data.func()), kSampleFunc) << cut;
    EXPECT_EQ(ListDir(data.inf()).size(), 4u) << cut;
  }

  const std::string secret = dir / "secret";
  WriteFile(secret, "kstapefmtlpr commit\nkslx230func\nend\n", 0600);
  for (const char* planted : {"kstapefmtlpr commit\n../../etc/passwd\nend\n",
                              "kstapefmtlpr commit\nkslx230func\nkslx230func\nend\n",
                              "kstapefmtlpr commit\nkslx230func\nend\nmore\n", "garbage",
                              "symlink"}) {
    stage();
    if (std::string(planted) == "symlink") {
      ASSERT_EQ(symlink(secret.c_str(), record.c_str()), 0);
    } else {
      WriteFile(record, planted);
    }
    const int error = std::string(planted) == "symlink" ? ELOOP : EBADMSG;
    const Status opened = open();
    EXPECT_EQ(opened.error(), error) << planted;
    EXPECT_EQ(opened.Message(), record + ": " + strerror(error));
    EXPECT_EQ(ReadFile(data.func()), kSampleFunc) << planted;
    EXPECT_EQ(ReadFile(data.func() + ".$$$"), "new func\n") << planted;  // left for a look
    unlink(record.c_str());
  }

  // A complete record, but what stands at a copy's name is not a copy the
  // tool could have made: it is never renamed over a data file.
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

}  // namespace
