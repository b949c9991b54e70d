#ifndef PRINT_SEND_H_
#define PRINT_SEND_H_

// What reaches the printer: the page Ghostscript wrote, its DSC header
// saying the paper it asks for, or a job sent as it is.

#include <optional>
#include <string>

#include "tool/status.h"

// The paper a page asks for, in points.
struct Paper {
  double width = 0, height = 0;
};

// Copies the PostScript in |from| (read from its start) to |to|. With a
// |paper|, its header (the lines before %%EndComments, or before the first
// that is no comment) says it, whatever it said before: its %%BoundingBox,
// %%HiResBoundingBox and %%DocumentMedia lines (with their %%+ lines) go,
// and so does a %%Invocation line, which would name the job's files; in
// place of the first of them, or at the header's end, come
//   %%BoundingBox: 0 0 <W rounded up> <H rounded up>
//   %%HiResBoundingBox: 0 0 <W> <H>
//   %%DocumentMedia: plain <W> <H> 0 () ()
// Everything else is copied byte for byte. A failure to read |from| or to
// write |to| is its error, with no path.
Status SendPostScript(int from, int to, const std::optional<Paper>& paper);

// The DSC lines above for |paper|, each with its newline.
std::string PaperComments(const Paper& paper);

#endif  // PRINT_SEND_H_
