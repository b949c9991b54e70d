#ifndef PRINT_JOB_FILE_H_
#define PRINT_JOB_FILE_H_

// What a print job is and the size of its page, read from the job file
// itself in one pass over it, however it is laid out (a job of one 60 MB
// line is read like any other).

#include <cstdint>
#include <optional>
#include <string>

#include "tool/status.h"

enum class JobKind {
  kOther,       // neither of the two
  kPostScript,  // begins with "%!", after a ^D that some drivers send first
  kPdf,         // begins with "%PDF"
};

// A page's box in points: where the page (or, from a %%BoundingBox, its
// marks) lies.
struct PageBox {
  double llx = 0, lly = 0, urx = 0, ury = 0;
  double width() const { return urx - llx; }
  double height() const { return ury - lly; }
  bool operator==(const PageBox&) const = default;
};

// No page is larger than this, in points (some 3.5 km): a figure beyond it
// would overflow the page-fit selector's single-precision sizes.
inline constexpr double kMaxPagePoints = 1e7;

struct JobInfo {
  JobKind kind = JobKind::kOther;
  // The first page's box, where the job says it:
  //   PostScript: the first line that holds a "/PageSize [W H]" (of several
  //     on it, the last, as the one in effect), as a page 0 0 W H; else its
  //     first "%%BoundingBox: llx lly urx ury";
  //   PDF: its first "/MediaBox [llx lly urx ury]" in plain text (one inside
  //     a compressed object stream is not seen).
  // Boxes of no area, or of a figure beyond kMaxPagePoints, are not boxes.
  std::optional<PageBox> box;
};

// Reads the job open as |fd| (a regular file, read with pread: its offset
// does not matter) into *info. Fails only if it cannot be read.
Status ReadJobInfo(int fd, JobInfo* info);

// The same over a job held in memory, for tests and fuzzing.
JobInfo JobInfoOf(const std::string& job);

#endif  // PRINT_JOB_FILE_H_
