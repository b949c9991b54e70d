#ifndef LINEIO_REWRITE_H_
#define LINEIO_REWRITE_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// What a rewrite does to the lines it applies to: those that contain
// |needle| (looked at up to their first zero byte) and, if |applies| is
// set, for which it returns true. Every other line is copied as it is.
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
  // Sees the line with its newline. Only lines holding |needle| are shown
  // to it, so that the others are copied in bulk.
  std::function<bool(std::string_view line)> applies;
  // For kReplace, if set: what the line becomes (instead of |text|), made
  // from the line itself, its newline included.
  std::function<std::string(std::string_view line)> replacement;
  // If set, the needle is *watch rather than |needle|, looked at afresh
  // before each line: an edit whose needle another edit's |applies| learns
  // while the rewrite runs (while it is empty, no line is special).
  const std::string* watch = nullptr;
};

// Suffix of the copy written beside a data file.
inline constexpr const char kTempSuffix[] = ".$$$";

// The first half of a rewrite in place: writes the data file |name| of the
// directory |dir_fd|, its lines changed by |edits| and followed by |append|,
// to a new copy "<name>.$$$" beside it, and flushes the copy to disk. The
// data file is not touched; renaming the copy over it is the caller's
// commit. The data file is opened as OpenDataFile opens it. The copy is
// created exclusively (a stale one is removed first), never through a
// symbolic link, with permission bits 0666. A data file whose last line
// lacks a newline gets one before anything is written after that line.
// Returns 0, or -1 with errno set and no copy left behind; a line longer
// than kLineMax fails with EFBIG. A line is changed by the first of |edits|
// that applies to it. |*edited|, if given, is set to the number of lines an
// edit applied to.
int StageRewrite(int dir_fd, const char* name, const std::vector<LineEdit>& edits,
                 const std::string& append, size_t* edited = nullptr);
inline int StageRewrite(int dir_fd, const char* name, const LineEdit& edit,
                        const std::string& append, size_t* edited = nullptr) {
  return StageRewrite(dir_fd, name, std::vector<LineEdit>{edit}, append, edited);
}

// Test seam for write faults. When set, it is asked at the start of each
// rewrite how many bytes the copy of data file |name| may take; writes
// beyond that fail with ENOSPC, as on a full disk. Null (the default) means
// no limit.
using TempByteLimitFn = size_t (*)(const char* name);
void SetTempByteLimitForTesting(TempByteLimitFn limit);

#endif  // LINEIO_REWRITE_H_
