#include "print/cups_filter.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tool/layout.h"

namespace {

// Every model's PPD, as the build makes it, names that model, which the
// filter then takes; anything else in a PPD's place is refused, without
// waiting on it or reading on without end.
TEST(CupsFilterTest, ThePpdNamesTheModel) {
  std::string model, error;
  for (const ModelRow& row : kModels) {
    const std::string ppd = std::string(KS_BINARY_DIR) + "/ppd/" + row.model + ".ppd";
    ASSERT_TRUE(ModelOfPpd(ppd, &model, &error)) << error;
    EXPECT_EQ(model, row.model);
  }
  TempDir dir;
  auto refused = [&](const std::string& content) {
    WriteFile(dir / "x.ppd", content);
    EXPECT_FALSE(ModelOfPpd(dir / "x.ppd", &model, &error)) << content;
    return error;
  };
  EXPECT_EQ(refused("*PPD-Adobe: \"4.3\"\n*ModelName: \"Other\"\n"),
            dir / "x.ppd" + " is no LX printer's PPD (it has no *KestrelModel line): make the "
                            "queue with lpadmin -P /usr/share/ppd/kestrel/<model>.ppd");
  EXPECT_EQ(refused("*KestrelModel: \"../../etc\"\n"),
            dir / "x.ppd" + ": *KestrelModel is no LX printer model this filter knows: "
                            "*KestrelModel: \"../../etc\"");
  refused("*KestrelModel: lx230\n");
  refused("*KestrelModel: \"lx230\r\n");
  refused(std::string(1024 * 1024, '\n') + "*KestrelModel: \"lx230\"\n");
  WriteFile(dir / "y.ppd", "*% a comment\r*KestrelModel:\t\"lx240pc\"\r");
  ASSERT_TRUE(ModelOfPpd(dir / "y.ppd", &model, &error)) << error;
  EXPECT_EQ(model, "lx240pc");

  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(ModelOfPpd(dir / "fifo", &model, &error));
  EXPECT_EQ(error, "cannot read the queue's PPD " + dir / "fifo" + ": Invalid argument");
  EXPECT_FALSE(ModelOfPpd(dir / "none", &model, &error));
  EXPECT_EQ(error, "cannot read the queue's PPD " + dir / "none" + ": No such file or directory");
}

TEST(CupsFilterTest, GhostscriptIsNotLookedForAmongCupsFilters) {
  EXPECT_EQ(GhostscriptPath("/usr/lib/cups/filter:/usr/bin:/usr/sbin:/bin:/usr/bin", "/usr/lib/cups"),
            "/usr/bin:/usr/sbin:/bin:/usr/bin");
  EXPECT_EQ(GhostscriptPath("/srv/cups/filter/::/usr/lib/cups/filter//:/opt/gs/bin", "/srv/cups"),
            "/opt/gs/bin");
  EXPECT_EQ(GhostscriptPath("", "/usr/lib/cups"), "");
}

struct Filtered {
  int status;
  std::string out, err;
};

// The filter as cupsd runs it, on a data set under |root|.
Filtered RunFilter(const std::string& root, std::vector<const char*> argv, const CupsEnvironment& env,
                   int in = -1) {
  TempDir dir;
  FILE* out = fopen((dir / "out").c_str(), "w+");
  FILE* err = fopen((dir / "err").c_str(), "w+");
  const int null = in >= 0 ? in : open("/dev/null", O_RDONLY | O_CLOEXEC);
  argv.insert(argv.begin(), "LX-230");
  Filtered result;
  result.status = RunCupsFilter(static_cast<int>(argv.size()), argv.data(), root, env, null,
                                fileno(out), err);
  if (in < 0) close(null);
  fclose(out);
  fclose(err);
  result.out = ReadFile(dir / "out");
  result.err = ReadFile(dir / "err");
  return result;
}

// Every failure before Ghostscript: one ERROR line for the job's state
// message, status 1, nothing sent.
TEST(CupsFilterTest, AJobThatCannotPrintSaysWhyAndSendsNothing) {
  TempDir dir;
  TestData data(dir.path() + "/");
  data.WriteSample();
  const std::string ppd = std::string(KS_BINARY_DIR) + "/ppd/lx230.ppd";
  CupsEnvironment env;
  env.ppd = ppd.c_str();
  env.temp_dir = dir.path().c_str();
  auto expect = [&](std::vector<const char*> argv, const std::string& line,
                    const CupsEnvironment& with) {
    const Filtered result = RunFilter(data.root, argv, with);
    EXPECT_EQ(result.status, 1) << line;
    EXPECT_EQ(result.err, line + "\n");
    EXPECT_EQ(result.out, "");
  };
  expect({"7", "alice", "job", "1", "media=Nothing"},
         "ERROR: unknown medium: Nothing (see kstapefmtlpr_lx230 -l)", env);
  expect({"7", "alice", "job", "1", "PageSize=Nothing media=Small"},
         "ERROR: unknown medium: Nothing (see kstapefmtlpr_lx230 -l)", env);
  expect({"7", "alice", "job", "0", ""}, "ERROR: copies: 0 is no number of copies (1 to 9999)", env);
  expect({"7", "alice", "job", "10000", ""},
         "ERROR: copies: 10000 is no number of copies (1 to 9999)", env);
  expect({"7", "alice", "job", "1", "ks_disk_limit=lots"},
         "ERROR: ks_disk_limit=lots is no number of MiB (1 to 999999)", env);
  expect({"7", "alice", "job", "1", "", (dir / "gone").c_str()},
         "ERROR: cannot read the job " + dir / "gone" + ": No such file or directory", env);
  expect({"7", "alice", "job", "1", "media=Small", "/dev/null"},
         "ERROR: the job is neither PostScript nor PDF", env);
  CupsEnvironment none = env;
  none.ppd = nullptr;
  expect({"7", "alice", "job", "1", ""},
         "ERROR: the queue has no PPD: make it with lpadmin -P /usr/share/ppd/kestrel/<model>.ppd",
         none);
  // A PPD for another model reads that model's data set.
  const std::string other = std::string(KS_BINARY_DIR) + "/ppd/lx210.ppd";
  none.ppd = other.c_str();
  const Filtered missing = RunFilter(data.root, {"7", "alice", "job", "1", ""}, none);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "ERROR: " + data.root + "lx210: No such file or directory (the printer "
                         "driver for lx210 provides it: install the driver first)\n");
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"lx230"}));  // no job directory left

  const Filtered usage = RunFilter(data.root, {"7", "alice", "job", "1"}, env);
  EXPECT_EQ(usage.status, 1);
  EXPECT_EQ(usage.err, "Usage: LX-230 job-id user title copies options [file]\n");
}

// The ERROR line is left in the pipe to cupsd until cupsd has read it, and
// no longer than the limit when no one does; a file is not waited on.
TEST(CupsFilterTest, AFailureWaitsForItsLineToBeRead) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "ERROR: x\n", 9), 9);
  const pid_t reader = fork();
  if (reader == 0) {
    usleep(100 * 1000);
    char buffer[16];
    _exit(read(fds[0], buffer, sizeof buffer) == 9 ? 0 : 1);
  }
  AwaitReader(fds[1], 10000);
  int unread = -1;
  ASSERT_EQ(ioctl(fds[1], FIONREAD, &unread), 0);
  EXPECT_EQ(unread, 0);  // returned because it was read, not at the limit
  int status;
  ASSERT_EQ(waitpid(reader, &status, 0), reader);
  EXPECT_EQ(status, 0);

  ASSERT_EQ(write(fds[1], "ERROR: y\n", 9), 9);
  AwaitReader(fds[1], 50);  // no reader: back at the limit
  ASSERT_EQ(ioctl(fds[1], FIONREAD, &unread), 0);
  EXPECT_EQ(unread, 9);
  close(fds[0]);
  close(fds[1]);
  TempDir dir;
  const int file = open((dir / "err").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(write(file, "ERROR: z\n", 9), 9);
  AwaitReader(file, 60 * 1000);  // would fail the test's time limit if it waited
  close(file);
}

}  // namespace
