#ifndef LINEIO_REWRITE_H_
#define LINEIO_REWRITE_H_

#include <cstddef>
#include <cstdio>
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

// Copies the lines of |in| to |out|, each line changed by the first of
// |edits| that applies to it, then writes |append|; a last line without a
// newline gets one before anything is written after it. Lines that hold no
// needle are copied in bulk. No more than |byte_limit| bytes are written:
// past that the copy fails with ENOSPC, as on a full disk. Returns 0, or
// the errno of the first failure: a read error, EFBIG for a line longer
// than kLineMax, a write error. |*edited| counts the lines an edit applied
// to. It knows nothing of files' names: what to copy, where, and what
// becomes of the copy are the caller's.
int CopyEdited(FILE* in, FILE* out, const std::vector<LineEdit>& edits, const std::string& append,
               size_t byte_limit, size_t* edited);

#endif  // LINEIO_REWRITE_H_
