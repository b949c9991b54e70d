#include "print/job_file.h"

#include <gtest/gtest.h>

#include <string>

namespace {

PageBox Box(double llx, double lly, double urx, double ury) { return {llx, lly, urx, ury}; }

TEST(JobFileTest, KindByTheFirstBytes) {
  EXPECT_EQ(JobInfoOf("%!PS-Adobe-3.0\n").kind, JobKind::kPostScript);
  EXPECT_EQ(JobInfoOf("\004%!PS\n").kind, JobKind::kPostScript);  // a driver's ^D first
  EXPECT_EQ(JobInfoOf("%PDF-1.4\n").kind, JobKind::kPdf);
  EXPECT_EQ(JobInfoOf("Just text\n").kind, JobKind::kOther);
  EXPECT_EQ(JobInfoOf("").kind, JobKind::kOther);
  EXPECT_EQ(JobInfoOf(" %!PS\n").kind, JobKind::kOther);
}

// PostScript: the first line with a /PageSize (its last one), else the
// first %%BoundingBox at a line's start; a PDF's first /MediaBox.
TEST(JobFileTest, ThePageBoxAJobGives) {
  struct Case {
    const char* job;
    std::optional<PageBox> box;
  } cases[] = {
      {"%!PS\n<< /PageSize [595 842] >> setpagedevice\n", Box(0, 0, 595, 842)},
      {"%!PS\n%%BoundingBox: 0 0 82 144\n<</PageSize[ 175.748  283.465 ]>>setpagedevice\n",
       Box(0, 0, 175.748, 283.465)},
      {"%!PS\n<< /PageSize [595 842] >> setpagedevice << /PageSize [612 792] >> setpagedevice\n"
       "<< /PageSize [100 100] >> setpagedevice\n",
       Box(0, 0, 612, 792)},
      {"%!PS\n/PageSize get\n<< /PageSize [300 400] >>\n", Box(0, 0, 300, 400)},
      {"%!PS\n%%BoundingBox: (atend)\n%%BoundingBox: 10 20 110 220\n", Box(10, 20, 110, 220)},
      {"%!PS\nx %%BoundingBox: 1 1 2 2\n", std::nullopt},  // not at a line's start
      {"%!PS\n%%BoundingBox: 0 0 0 100\n", std::nullopt},    // no area
      {"%!PS\n<< /PageSize [nan 5] >>\n", std::nullopt},
      {"%!PS\n<< /PageSize [6 3e186] >>\n", std::nullopt},  // no page is that large
      {"%PDF-1.4\n/MediaBox [0 0 6 3e186] /MediaBox [0 0 6 8]\n", Box(0, 0, 6, 8)},
      {"%!PS\nshowpage\n", std::nullopt},
      {"%PDF-1.4\n1 0 obj << /MediaBox 5 0 R >> endobj 2 0 obj << /MediaBox [0 0 612.5 792] >>\n",
       Box(0, 0, 612.5, 792)},
      {"%PDF-1.4\n<< /MediaBox [100 200 300 500] /CropBox [0 0 1 1] >>\n", Box(100, 200, 300, 500)},
      {"%PDF-1.5\n<< /Type /ObjStm /Filter /FlateDecode >> stream\nx\x9c\nendstream\n", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JobInfoOf(c.job).box, c.box) << c.job;
  }
}

// Keys across the boundary of the blocks the job is read in, and a job of
// one line tens of MB long, read in one pass like any other.
TEST(JobFileTest, KeysAnywhereInLargeJobs) {
  for (size_t at : {size_t{0}, (size_t{1} << 20) - 300, (size_t{1} << 20) - 5, size_t{1} << 20,
                    (size_t{3} << 20) + 7}) {
    std::string job = "%!PS\n" + std::string(at, ' ') + "<< /PageSize [200 300] >>\n";
    EXPECT_EQ(JobInfoOf(job).box, Box(0, 0, 200, 300)) << at;
    std::string pdf = "%PDF-1.4\n" + std::string(at, 'x') + "/MediaBox [0 0 50 60]\n";
    EXPECT_EQ(JobInfoOf(pdf).box, Box(0, 0, 50, 60)) << at;
  }
  // One line: its /PageSize keys after the first, the last of them counts.
  std::string line = "%!PS ";
  for (int i = 0; i < 200000; ++i) line += "<< /PageSize [" + std::to_string(100 + i % 7) + " 300] >> ";
  line += std::string(40 << 20, 'x') + "\n<< /PageSize [1 1] >>\n";
  EXPECT_EQ(JobInfoOf(line).box, Box(0, 0, 100 + 199999 % 7, 300));
}

}  // namespace
