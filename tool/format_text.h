#ifndef TOOL_FORMAT_TEXT_H_
#define TOOL_FORMAT_TEXT_H_

// How a format is shown to people and scripts, by the listing and by the
// medium query alike: its name with control characters escaped, and its
// state.

#include <string>
#include <string_view>

#include "tool/find_medium.h"
#include "tool/status.h"

// |name| as it may be printed: control characters as \xNN, so that each
// format stays one line of tab-separated fields and no name can move a
// terminal's cursor. C0 and DEL; C1 as raw bytes 0x80 to 0x9F that are not
// part of a valid UTF-8 character, and as the UTF-8 characters U+0080 to
// U+009F (as \xc2\xNN). A backslash is written as two, so that no name
// reads like another's escape (a tab is \x09, the text \x09 is \\x09).
// Everything else, names in other encodings among it, is kept as it is.
std::string Printable(std::string_view name);

// The same, written to |out|, which has room for kPrintableGrowth bytes a
// byte of |name|; returns the end of what it wrote.
inline constexpr size_t kPrintableGrowth = 4;
char* PrintableTo(std::string_view name, char* out);

// Appends a format's state to |line|: "ok"; or "missing: " and the names of
// the data files of |model| that lack it, in the order func list, paper
// info, imaging area; and, where its imaging area line holds no size that
// can be read, "bad size in ImagingArea" (after "; " if something is
// missing too).
void AppendState(std::string* line, const std::string& model, bool in_func, bool in_paper,
                 bool in_area, bool area_readable = true);

// The line a reader's failure is reported with: for a path that does not
// exist (most often a driver that is not installed), the first one missing
// on the way from the install root |root| to it, and what provides it;
// otherwise the failure's own message.
std::string ReadFailureText(const Status& status, const std::string& root, const std::string& model);

// The line that says what a medium query came to, for every answer but a
// format found; |tool| is the label-format tool's name, for the way out.
std::string MediumAnswerText(MediumAnswer answer, const Medium& medium, const Status& status,
                             const std::string& root, const std::string& model,
                             const std::string& tool);

#endif  // TOOL_FORMAT_TEXT_H_
