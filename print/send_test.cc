#include "print/send.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "print/print_job.h"

namespace {

std::string Sent(const std::string& postscript, std::optional<Paper> paper) {
  FILE* from = tmpfile();
  FILE* to = tmpfile();
  fwrite(postscript.data(), 1, postscript.size(), from);
  fflush(from);
  EXPECT_TRUE(SendPostScript(fileno(from), fileno(to), paper).ok());
  std::string out(1 << 20, '\0');
  out.resize(static_cast<size_t>(pread(fileno(to), out.data(), out.size(), 0)));
  fclose(from);
  fclose(to);
  return out;
}

// The header names the paper the page asks for, whatever it said before;
// the body goes byte for byte.
TEST(SendTest, TheHeaderSaysThePaper) {
  const std::string body = "%%BeginProlog\n%%BoundingBox: 1 2 3 4\n" + std::string(200000, 'x') + "\n";
  EXPECT_EQ(Sent("%!PS-Adobe-3.0\n%%Invocation: gs -sOutputFile=/tmp/job/out.ps /dev/stdin\n"
                 "%%BoundingBox: 0 0 176 284\n%%HiResBoundingBox: 0 0 176.00 284.00\n"
                 "%%Creator: x\n%%DocumentMedia: A4 595 842 80 () ()\n%%+ Letter 612 792 80 () ()\n"
                 "%%Pages: 1\n%%EndComments\n" + body,
                 Paper{175.748, 283.465}),
            "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 176 284\n%%HiResBoundingBox: 0 0 175.748 283.465\n"
            "%%DocumentMedia: plain 175.748 283.465 0 () ()\n%%Creator: x\n%%Pages: 1\n"
            "%%EndComments\n" + body);
  // No such comments, and a header that ends at its first line that is no
  // comment: the paper's go at its end.
  EXPECT_EQ(Sent("%!PS\n%%Title: t\nshowpage\n", Paper{82, 144}),
            "%!PS\n%%Title: t\n%%BoundingBox: 0 0 82 144\n%%HiResBoundingBox: 0 0 82 144\n"
            "%%DocumentMedia: plain 82 144 0 () ()\nshowpage\n");
  // As it is.
  const std::string job = "%!PS\n%%BoundingBox: 1 2 3 4\nshowpage";
  EXPECT_EQ(Sent(job, std::nullopt), job);
}

// What a Ghostscript run came to, by what it said.
TEST(SendTest, WhatGhostscriptsMessagesMean) {
  const std::string marker = std::string(kNoPageMarker) + "\n";
  EXPECT_EQ(GhostscriptProblem(marker, false, false), "the job draws no page");
  EXPECT_EQ(GhostscriptProblem(marker, false, true), "the job draws no page");
  EXPECT_EQ(GhostscriptProblem("   **** Error: Couldn't initialise file.\n               Output may be "
                               "incorrect.\n" + marker,
                               false, true),
            "Ghostscript could not read the PDF: Couldn't initialise file.");
  EXPECT_EQ(GhostscriptProblem("   **** Error: Page drawing error occurred.\n", true, true),
            "Ghostscript could not draw a page of the job (Page drawing error occurred.)");
  EXPECT_EQ(GhostscriptProblem("\nError: /undefined in foo\nOperand stack:\n", false, false),
            "Ghostscript could not read the job: Error: /undefined in foo");
  EXPECT_EQ(GhostscriptProblem("   **** Error: something repaired\n", true, true), "");
  EXPECT_EQ(GhostscriptProblem("", true, false), "");
}

}  // namespace
