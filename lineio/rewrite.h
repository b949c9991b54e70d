#ifndef LINEIO_REWRITE_H_
#define LINEIO_REWRITE_H_

#include <cstddef>
#include <string>

// What a rewrite does to the lines that contain |needle| (looked at up to
// their first zero byte); every other line is copied as it is.
struct LineEdit {
  enum class Action {
    kCopy,         // copy them too
    kDrop,         // leave them out
    kReplace,      // write |text| in their place
    kInsertAfter,  // copy them, then write |text| after each
  };
  std::string needle;  // holds no newline; empty: no line is special
  Action action = Action::kCopy;
  std::string text;
};

// Suffix of the temporary copy written beside a data file.
inline constexpr const char kTempSuffix[] = ".$$$";

// Replaces the data file |name| of the directory |dir_fd| by its lines
// changed by |edit|, followed by |append|. The data file is opened as
// OpenDataFile opens it, so nothing but a regular file of one link is ever
// read. The copy is written to "<name>.$$$" beside it, flushed to disk and
// renamed over the data file, and the directory is flushed after the rename,
// so the data file is at every moment either the old content or the new,
// ends with permission bits 0666, and a returned 0 survives a power loss.
// Returns 0, or -1 with errno set; on -1 the data file is exactly as it was
// (unless only the final flush of the directory failed) and no temporary
// file is left behind. A line longer than kLineMax fails with EFBIG.
int RewriteInPlace(int dir_fd, const char* name, const LineEdit& edit,
                   const std::string& append);

// Test seam for write faults. When set, it is asked at the start of each
// rewrite how many bytes the temporary copy of data file |name| may take;
// writes beyond that fail with ENOSPC, as on a full disk. Null (the default)
// means no limit.
using TempByteLimitFn = size_t (*)(const char* name);
void SetTempByteLimitForTesting(TempByteLimitFn limit);

#endif  // LINEIO_REWRITE_H_
