#ifndef PAGEFIT_PAGE_FIT_H_
#define PAGEFIT_PAGE_FIT_H_

#include <cstdio>
#include <string>

// The page-size line of a job: the last of the unbroken run of lines
// containing "PageSize" at the top of |in| (newline included), or empty if
// the first line has none.
std::string ReadPageSizeLine(FILE* in);

// The decision in numbers: fit, with the page |width| by |height| (points)
// moved by |x|, |y| (inches), or copy.
struct PageFit {
  bool fit = false;
  float width = 0, height = 0;
  double x = 0, y = 0;
};

// The page width and height a kept page-size line gives: the first two
// numbers between its first "[" and the "]" after it, read as "%f %f" reads
// them (0 where none is read).
void PageSizeOf(const std::string& kept_line, float* width, float* height);

// The decision for a page of |width| by |height| points and the length
// |length| in 1/300 inch: fit when either is not 0, moved 0.06 inch to the
// left and up by length / 300 - height / 72 + 3 mm (in inches); else copy.
PageFit DecidePageFit(float width, float height, double length);

// What the print filter is told to run, from the kept page-size line and the
// length |length| in 1/300 inch: the page-fitting |command| with the page's
// width, height and offset when the line gives a size, otherwise a copy.
// |input| and |output| are the file operands.
std::string PageFitDecision(const std::string& kept_line, double length, const char* command,
                            const char* input, const char* output);

// The whole program: ten arguments, the decision on |out|, the one error
// text on |err|. Always returns 0.
int RunPageFit(int argc, const char* const* argv, FILE* out, FILE* err);

#endif  // PAGEFIT_PAGE_FIT_H_
