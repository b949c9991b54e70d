#include "tool/find_medium.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/test_util.h"
#include "tool/operations.h"
#include "tool/run_tool.h"

namespace {

// The tool's answer to a command line, run in this process.
std::string RunIn(const TestData& data, std::vector<const char*> argv) {
  argv.insert(argv.begin(), "kstapefmtlpr_lx230");
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  RunTool(static_cast<int>(argv.size()), argv.data(), data.root, out);
  fclose(out);
  std::string answer(text, size);
  free(text);
  return answer;
}

class FindMediumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Standard media, then custom formats: one whose name another's
    // identifier would be taken for, two that LPRng writes alike
    // ("K__se"), one in Shift_JIS (lead byte 0x83), one missing elsewhere.
    WriteFile(data_.func(),
              "# media\n[Tape]\nDK11201 29x90\nDK22205 62\n[CustomTape]\n"
              "KsL053E0643ABCD/Small\n"
              "KsL0F1D04600001/KsL053E0643ABCD\n"
              "KsL051D04600002/K\xc3\xa4se\n"
              "KsL051D04600003/K$$se\n"
              "KsL061D04600004/\x83\x89\x83x\x83\x8b\n"
              "KsL091D04600005/Half done\n"
              "KsL051D04600006/Small\n"
              "[End]\n");
    WriteFile(data_.paper(),
              "DK11201 29x90:\t306\t990\n"
              "KsL053E0643ABCD/Small:\t695\t1108\n"
              "KsL0F1D04600001/KsL053E0643ABCD:\t306\t990\n"
              "KsL051D04600002/K\xc3\xa4se:\t306\t990\n"
              "KsL051D04600003/K$$se:\t306\t990\n"
              "KsL061D04600004/\x83\x89\x83x\x83\x8b:\t306\t990\n"
              "KsL0A3E06400007/Paper only:\t695\t1108\n");
    WriteFile(data_.area(),
              "DK11201 29x90\t:\t4.32\t8.40\t77.76\t246.33\n"
              "KsL053E0643ABCD\t:\t4.32\t8.40\t171.16\t274.63\n"
              "KsL0F1D04600001\t:\t4.32\t8.40\t77.76\t189.72\n"
              "KsL0B1D04600008\t:\t4.32\t8.40\t77.76\t189.72\n");
    WriteFile(data_.rc(), "Copies=1\r\nMediaSize=Small\r\n");
    Reopen();
  }

  // A reader sees the data set as it was when it opened it.
  void Reopen() {
    set_ = std::make_unique<DataSet>(data_.root, "lx230");
    ASSERT_TRUE(set_->Open(DataSet::Access::kRead).ok());
  }

  // The answer, and the medium as one listing-like line.
  std::string Find(const std::string& value, MediumAnswer want = MediumAnswer::kFound) {
    Medium medium;
    EXPECT_EQ(FindMedium(*set_, value, &medium, &status_), want) << value;
    return medium.name + "|" + medium.size + "|" + medium.id + "|" + medium.state;
  }

  TempDir temp_;
  TestData data_{temp_.path()};
  std::unique_ptr<DataSet> set_;
  Status status_;  // of the last Find
};

TEST_F(FindMediumTest, EachWayOfNamingAMediumInItsOrder) {
  // An identifier first, then a name as it stands (the first of two).
  EXPECT_EQ(Find("KsL053E0643ABCD"), "Small|62x100|KsL053E0643ABCD|ok");
  EXPECT_EQ(Find("Small"), "Small|62x100|KsL053E0643ABCD|ok");
  // As LPRng rewrites a job option: one fits, two are ambiguous, and a
  // blank or a letter is never rewritten.
  EXPECT_EQ(Find("___x__"), "\x83\x89\x83x\x83\x8b|29x70|KsL061D04600004|missing: ImagingArea");
  Find("K__se", MediumAnswer::kSeveral);
  EXPECT_EQ(Find("K$$se"), "K$$se|29x70|KsL051D04600003|missing: ImagingArea");
  Find("Small_", MediumAnswer::kUnknown);
  Find("Half_done", MediumAnswer::kUnknown);
  // A standard medium by its line; a code the data set does not know is
  // no medium, a size alone is one.
  EXPECT_EQ(Find("DK11201 29x90"), "DK11201 29x90|29x90|DK11201 29x90|ok");
  Find("NoSuchCode 29x90", MediumAnswer::kUnknown);
  Find("DK22205 62", MediumAnswer::kNoArea);
  Find("[Tape]", MediumAnswer::kUnknown);
  EXPECT_EQ(Find("29x90"), "29x90|29x90|-|ok");
  EXPECT_EQ(Find("62.5x100mm"), "62.5x100mm|62.5x100|-|ok");
  Find("0x100mm", MediumAnswer::kNoArea);
  Find("0x90", MediumAnswer::kNoArea);
  Find("1.2.3x4mm", MediumAnswer::kUnknown);
  // Formats the func list lacks: found, and said to be incomplete.
  EXPECT_EQ(Find("Half done"), "Half done|29x70|KsL091D04600005|missing: paperinflx230pt1, ImagingArea");
  EXPECT_EQ(Find("Paper only"),
            "Paper only|62x100|KsL0A3E06400007|missing: kslx230func, ImagingArea");
  EXPECT_EQ(Find("KsL0B1D04600008"), "|29x70|KsL0B1D04600008|missing: kslx230func, paperinflx230pt1");
}

// A standard medium whose func list line is its size alone, as the rc
// file's reset value names it, is that size: by its line, and as the
// model's default.
TEST_F(FindMediumTest, AStandardMediumNamedByItsSizeAlone) {
  WriteFile(data_.func(), "[Tape]\n29x90\n62\n[CustomTape]\n");
  WriteFile(data_.rc(), "MediaSize=29x90\n");
  Reopen();
  EXPECT_EQ(Find("29x90"), "29x90|29x90|29x90|ok");
  EXPECT_EQ(Find(""), "29x90|29x90|29x90|ok");
  Find("62", MediumAnswer::kNoArea);  // a continuous tape
}

// LPRng keeps blanks and tabs as they are: its "_" never stands for one.
TEST(MatchesRewrittenNameTest, AnUnderscoreStandsForWhatLprngRewrites) {
  EXPECT_TRUE(MatchesRewrittenName("K\xc3\xa4se", "K__se"));
  EXPECT_TRUE(MatchesRewrittenName("a$b", "a_b"));
  EXPECT_TRUE(MatchesRewrittenName("a\\b", "a/b"));
  EXPECT_FALSE(MatchesRewrittenName("a\tb", "a_b"));
  EXPECT_FALSE(MatchesRewrittenName("a b", "a_b"));
  EXPECT_FALSE(MatchesRewrittenName("aXb", "a_b"));
  EXPECT_FALSE(MatchesRewrittenName("ab", "a_b"));
}

// An identifier comes first even where an entry named with that text
// stands before it: the search does not end at the name.
TEST_F(FindMediumTest, AnIdentifierWinsOverANameMetEarlier) {
  WriteFile(data_.func(), "[CustomTape]\nKsL0F1D04600001/KsL053E0643ABCD\nKsL053E0643ABCD/Small\n");
  Reopen();
  EXPECT_EQ(Find("KsL053E0643ABCD"), "Small|62x100|KsL053E0643ABCD|ok");
}

// What -m prints of a name is escaped as in the listing: a job's medium
// holds what its sender chose.
TEST_F(FindMediumTest, ANameIsPrintedEscaped) {
  WriteFile(data_.func(), "[CustomTape]\nKsL061D04600001/\x1b[2J\\x\n");
  Reopen();
  EXPECT_EQ(RunIn(data_, {"-m", "\x1b[2J\\x"}), "\\x1b[2J\\\\x\t29x70\tKsL061D04600001\t"
                                                 "missing: paperinflx230pt1, ImagingArea\n");
  EXPECT_EQ(RunIn(data_, {"-m", "\x1b"}), "unknown medium: \\x1b (see kstapefmtlpr_lx230 -l)\n");
}

TEST_F(FindMediumTest, TheDefaultIsTheRcFilesWhateverItsLineEnding) {
  EXPECT_EQ(Find(""), "Small|62x100|KsL053E0643ABCD|ok");
  WriteFile(data_.rc(), "Copies=1\nMediaSize=NoSuch\n");
  Reopen();
  EXPECT_EQ(Find("", MediumAnswer::kUnknown), "NoSuch|||");
  WriteFile(data_.rc(), "Copies=1\nMediaSize=\n");
  Reopen();
  Find("", MediumAnswer::kNoDefault);
  unlink(data_.rc().c_str());
  Reopen();
  Find("", MediumAnswer::kNoDefault);
  EXPECT_EQ(RunIn(data_, {"-m", ""}), "no medium named, and " + data_.inf() +
                                          "kslx230rc has no default medium (MediaSize=)\n");
}

// The rc file and the func list are opened as every data file: a FIFO or
// a link is refused rather than waited on or followed.
TEST_F(FindMediumTest, AFifoOrALinkInPlaceOfADataFileIsRefused) {
  unlink(data_.rc().c_str());
  ASSERT_EQ(mkfifo(data_.rc().c_str(), 0666), 0);
  Reopen();
  Find("", MediumAnswer::kFailed);
  EXPECT_EQ(status_.error(), EPERM);
  EXPECT_EQ(status_.Message(), data_.rc() + ": Operation not permitted");
  unlink(data_.func().c_str());
  ASSERT_EQ(symlink("/dev/zero", data_.func().c_str()), 0);
  Reopen();
  Find("Small", MediumAnswer::kFailed);
  EXPECT_EQ(status_.error(), ELOOP);
}

// For every format the listing shows, -m of its identifier, and of its name
// where it has one, answers the same line: the size is the data set's (a
// length of 5000 mm, beyond the identifier's 12-bit field; a hand-made
// imaging area line saying other than the identifier; one that says no
// size that can be read), never the identifier's alone.
TEST(FindMediumAndListingTest, AgreeOnEveryFormat) {
  TempDir temp;
  TestData data(temp.path());
  data.WriteSample();
  {
    DataSet set(data.root, "lx230");
    ASSERT_TRUE(set.Open(DataSet::Access::kChange).ok());
    long micros = 1;
    for (auto [name, width, height] : std::vector<std::tuple<const char*, int32_t, int32_t>>{
             {"Long", 50, 5000}, {"Wide", 300, 70}, {"Tape 54", 54, 100}, {"Plain", 29, 70}}) {
      QueueTimes({{0, micros++}});
      ASSERT_TRUE(AddFormat(TestRequest(name, width, height), set, QueuedTime).ok());
    }
  }
  // By hand: a line saying other than its identifier, one saying no size,
  // one of a format only the imaging area holds, two lines of one format
  // (the last one's size counts).
  WriteFile(data.func(), ReadFile(data.func()) +
                             "KsL041D04600011/Hand\nKsL031D04600012/Bad\nKsL051D04600014/Twice\n");
  WriteFile(data.paper(), ReadFile(data.paper()) + "KsL041D04600011/Hand:\t1\t1\n" +
                              "KsL031D04600012/Bad:\t1\t1\nKsL051D04600014/Twice:\t1\t1\n");
  WriteFile(data.area(), ReadFile(data.area()) +
                             "KsL041D04600011\t:\t4.32\t8.40\t171.16\t274.63\n"
                             "KsL031D04600012\t:\t4.32\t8.40\t77.76\n"
                             "KsL051D04600014\t:\t4.32\t8.40\t171.16\t274.63\n"
                             "KsL0B1D04600013\t:\t4.32\t8.40\t77.76\t189.72\n"
                             "KsL051D04600014\t:\t4.32\t8.40\t77.76\t189.72\n");
  const std::string listing = RunIn(data, {"-l"});
  EXPECT_NE(listing.find("Long\t50x5000\t"), std::string::npos) << listing;
  EXPECT_NE(listing.find("Hand\t62x100\tKsL041D04600011\tok\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("Bad\t29x70\tKsL031D04600012\tbad size in ImagingArea\n"),
            std::string::npos);
  EXPECT_NE(listing.find("Twice\t29x70\tKsL051D04600014\tok\n"), std::string::npos);
  int lines = 0;
  for (size_t pos = 0, end; pos < listing.size(); pos = end + 1, ++lines) {
    end = listing.find('\n', pos);
    const std::string line = listing.substr(pos, end - pos + 1);
    const std::string name = line.substr(0, line.find('\t'));
    const size_t id_at = line.find('\t', line.find('\t') + 1) + 1;
    const std::string id = line.substr(id_at, line.find('\t', id_at) - id_at);
    EXPECT_EQ(RunIn(data, {"-m", id.c_str()}), line) << id;
    if (!name.empty()) {
      EXPECT_EQ(RunIn(data, {"-m", name.c_str()}), line) << name;
    }
  }
  EXPECT_EQ(lines, 9);
}

// Out of memory while it answers (a line near the longest a data file may
// hold, read with no room for it), the tool says so and ends with 255:
// the program's last handler, never an abort.
TEST_F(FindMediumTest, OutOfMemoryIsAnErrorNotAnAbort) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit here allows";
#endif
  // The child runs the test afresh (as a new process), so that memory an
  // earlier test freed, still mapped, cannot answer the allocation.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  WriteFile(data_.func(), std::string(900 * 1024, 'a') + "\n" + ReadFile(data_.func()));
  auto child = [&] {
    FILE* out = tmpfile();
    const char* argv[] = {"kstapefmtlpr_lx230", "-m", "___"};
    if (out == nullptr || !LimitAddressSpaceToCurrentPlus(256 * 1024)) _exit(77);
    const int status = RunTool(3, argv, data_.root, out);
    char text[64] = {};
    rewind(out);
    const size_t length = fread(text, 1, sizeof text - 1, out);
    _exit(status == -1 && std::string(text, length) == "Cannot allocate memory\n" ? 0 : 1);
  };
  EXPECT_EXIT(child(), [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; },
              "");
}

}  // namespace
