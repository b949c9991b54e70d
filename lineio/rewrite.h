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

// Replaces the file at |path| by its lines changed by |edit|, followed by
// |append|. The copy is written to "<path>.$$$", flushed to disk
// and renamed over the data file, so the data file is at every moment either
// the old content or the new, and ends with permission bits 0666.
// Returns 0, or -1 with errno set; on -1 the data file is exactly as it was
// and no temporary file is left behind.
int RewriteInPlace(const char* path, const LineEdit& edit, const std::string& append);

// Test seam for write faults. When set, it is asked at the start of each
// rewrite how many bytes the temporary copy of |path| may take; writes beyond
// that fail with ENOSPC, as on a full disk. Null (the default) means no limit.
using TempByteLimitFn = size_t (*)(const char* path);
void SetTempByteLimitForTesting(TempByteLimitFn limit);

#endif  // LINEIO_REWRITE_H_
