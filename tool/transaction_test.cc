#include "tool/transaction.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/test_util.h"

namespace {

const LineEdit kCopy;

class StageRewriteTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(dir_fd_, 0); }
  void TearDown() override { close(dir_fd_); }
  // The copy, then its rename over the data file (the caller's commit):
  // 0, or the error number of the failure.
  int Rewrite(const LineEdit& edit, const std::string& append, size_t* edited = nullptr) {
    if (Status staged = StageRewrite(dir_fd_, "data", edit, append, edited); !staged.ok()) {
      return staged.error();
    }
    return renameat(dir_fd_, "data.$$$", dir_fd_, "data") == 0 ? 0 : errno;
  }

  TempDir dir_;
  std::string path_ = dir_ / "data";
  int dir_fd_ = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
};

TEST_F(StageRewriteTest, TransformsAppendsAndLeavesOnlyTheDataFile) {
  WriteFile(path_, "keep 1\ndrop me\nkeep 2\n", 0644);
  const LineEdit drop{"drop", LineEdit::Action::kDrop, "", nullptr, nullptr};
  ASSERT_EQ(Rewrite(drop, "added\n"), 0);
  EXPECT_EQ(ReadFile(path_), "keep 1\nkeep 2\nadded\n");
  EXPECT_EQ(PermissionBits(path_), 0666u);
  EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"data"});
}

TEST_F(StageRewriteTest, PermissionsAre0666WhateverTheUmask) {
  WriteFile(path_, "", 0644);
  mode_t old = umask(077);
  int result = Rewrite(kCopy, "x\n");
  umask(old);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(ReadFile(path_), "x\n");  // an empty file gets just the appended text
  EXPECT_EQ(PermissionBits(path_), 0666u);
}

TEST_F(StageRewriteTest, CopiesEveryByteOfLongLinesAndZeroBytes) {
  std::string content = std::string(5000, 'a') + "\n" + std::string("b\0c\n", 4) + "tail";
  WriteFile(path_, content);
  ASSERT_EQ(Rewrite(kCopy, ""), 0);
  EXPECT_EQ(ReadFile(path_), content);  // no newline is added when nothing follows
}

TEST_F(StageRewriteTest, AddsANewlineBeforeWritingAfterAnUnterminatedLastLine) {
  WriteFile(path_, "first\n[CustomTape]");
  const LineEdit insert{"[CustomTape]", LineEdit::Action::kInsertAfter, "entry\n", nullptr, nullptr};
  ASSERT_EQ(Rewrite(insert, "appended\n"), 0);
  EXPECT_EQ(ReadFile(path_), "first\n[CustomTape]\nentry\nappended\n");
}

TEST_F(StageRewriteTest, EditsLinesContainingTheNeedleBeforeAnyZeroByte) {
  WriteFile(path_, std::string("a ID\nb\0 ID\nID c\nID", 18));
  size_t edited = 0;
  ASSERT_EQ(Rewrite({"ID", LineEdit::Action::kReplace, "R\n", nullptr, nullptr}, "", &edited), 0);
  EXPECT_EQ(ReadFile(path_), std::string("R\nb\0 ID\nR\nR\n", 12));
  EXPECT_EQ(edited, 3u);
  // Of the lines holding the needle, only those the edit applies to.
  WriteFile(path_, "ID 1\nx\nID 2\nID 3\n");
  const LineEdit some{"ID", LineEdit::Action::kDrop, "",
                      [](std::string_view line) { return line == "ID 2\n"; }, nullptr};
  ASSERT_EQ(Rewrite(some, "", &edited), 0);
  EXPECT_EQ(ReadFile(path_), "ID 1\nx\nID 3\n");
  EXPECT_EQ(edited, 1u);
}

// Lines of every length around the block size, and matches that straddle a
// block boundary: the result is the same as editing line by line.
TEST_F(StageRewriteTest, LargeFilesAreEditedLikeSmallOnes) {
  std::string content, expected;
  for (size_t i = 0; content.size() < 3 * 1024 * 1024; ++i) {
    std::string line = std::string(i * 7919 % 700, 'x');
    if (i % 97 == 0) line.insert(line.size() / 2, "NEEDLE");
    if (i == 500) line = std::string(600 * 1024, 'y') + "NEEDLE";  // longer than a block
    line += '\n';
    content += line;
    if (line.find("NEEDLE") == std::string::npos) expected += line;
  }
  WriteFile(path_, content);
  ASSERT_EQ(Rewrite({"NEEDLE", LineEdit::Action::kDrop, "", nullptr, nullptr}, "end\n"), 0);
  EXPECT_TRUE(ReadFile(path_) == expected + "end\n");
}

TEST_F(StageRewriteTest, MissingDataFileFailsWithItsErrno) {
  EXPECT_EQ(Rewrite(kCopy, "x\n"), ENOENT);
  EXPECT_TRUE(ListDir(dir_.path()).empty());
}

TEST_F(StageRewriteTest, RemovesAStaleTemporaryFile) {
  WriteFile(path_, "data\n");
  WriteFile(path_ + ".$$$", "left over by a killed run, longer than the data\n", 0400);
  ASSERT_EQ(Rewrite(kCopy, ""), 0);
  EXPECT_EQ(ReadFile(path_), "data\n");
  EXPECT_FALSE(Exists(path_ + ".$$$"));
}

TEST_F(StageRewriteTest, DoesNotFollowALinkPlantedAtTheTemporaryName) {
  std::string victim = dir_ / "victim";
  WriteFile(victim, "precious\n");
  WriteFile(path_, "data\n");
  ASSERT_EQ(symlink(victim.c_str(), (path_ + ".$$$").c_str()), 0);
  ASSERT_EQ(Rewrite(kCopy, "more\n"), 0);
  EXPECT_EQ(ReadFile(victim), "precious\n");
  EXPECT_EQ(ReadFile(path_), "data\nmore\n");
  struct stat st;
  ASSERT_EQ(lstat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(StageRewriteTest, TemporaryNameThatCannotBeCreatedLeavesTheDataFile) {
  WriteFile(path_, "data\n", 0644);
  ASSERT_EQ(mkdir((path_ + ".$$$").c_str(), 0755), 0);  // cannot be removed by unlink
  EXPECT_EQ(Rewrite(kCopy, "more\n"), EEXIST);
  EXPECT_EQ(ReadFile(path_), "data\n");
  EXPECT_EQ(PermissionBits(path_), 0644u);
}

// A write that fails part-way (the file size limit stands in for a full
// disk) at every possible byte: the data file is never touched.
TEST_F(StageRewriteTest, AFailedWriteAtAnyPointLeavesTheDataFileAsItWas) {
  const std::string content = "line one\nline two\n";
  const std::string append = "appended line\n";
  const size_t full = content.size() + append.size();
  for (size_t limit = 0; limit < full; ++limit) {
    WriteFile(path_, content, 0644);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit rl{};
      getrlimit(RLIMIT_FSIZE, &rl);
      rl.rlim_cur = limit;
      setrlimit(RLIMIT_FSIZE, &rl);
      _exit(Rewrite(kCopy, append) == EFBIG ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "limit " << limit;
    EXPECT_EQ(ReadFile(path_), content) << "limit " << limit;
    EXPECT_EQ(PermissionBits(path_), 0644u) << "limit " << limit;
    EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"data"}) << "limit " << limit;
  }
}

}  // namespace
