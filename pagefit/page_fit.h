#ifndef PAGEFIT_PAGE_FIT_H_
#define PAGEFIT_PAGE_FIT_H_

#include <cstdio>
#include <string>

// The page-size line of a job: the last of the unbroken run of lines
// containing "PageSize" at the top of |in| (newline included), or empty if
// the first line has none.
std::string ReadPageSizeLine(FILE* in);

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
