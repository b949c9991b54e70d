#include "tool/data_set.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lineio/line_blocks.h"
#include "lineio/string_printf.h"

namespace {

// Hex digits after "KsL" in the shortest identifier (widths below 256 mm
// give exactly this many).
constexpr size_t kMinIdDigits = 12;

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

int HexValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

// Matches one line, looked at up to its first zero byte.
bool MatchEntry(const char* line, const char* name, std::string* id) {
  const char* p = strstr(line, "KsL");
  if (p == nullptr) return false;
  const char* digits = p + 3;
  size_t run = 0;
  while (IsUpperHex(digits[run])) ++run;
  if (run < kMinIdDigits) return false;
  size_t length = static_cast<size_t>(HexValue(digits[0]) * 16 + HexValue(digits[1]));
  const char* separator = digits + run;
  if (*separator == '\0') return false;
  const char* entry_name = separator + 1;
  // The name must lie within the line; strncmp stops at the line's end.
  if (strlen(name) != length || strncmp(entry_name, name, length) != 0) return false;
  id->assign(p, 3 + run);
  return true;
}

}  // namespace

std::string DataDirectory(const std::string& root, const char* model) {
  return root + model + "/inf";
}

bool BuildPath(FormatRequest* request, const std::string& root, DataFile file) {
  const char* m = request->model;
  std::string path;
  switch (file) {
    case DataFile::kSpoolerTool: path = StringPrintf("%s%s/lpd/kstapefmtcups", root.c_str(), m); break;
    case DataFile::kFuncList: path = StringPrintf("%s%s/inf/ks%sfunc", root.c_str(), m, m); break;
    case DataFile::kPaperInfo: path = StringPrintf("%s%s/inf/paperinf%spt1", root.c_str(), m, m); break;
    case DataFile::kRc: path = StringPrintf("%s%s/inf/ks%src", root.c_str(), m, m); break;
    case DataFile::kImagingArea: path = StringPrintf("%s%s/inf/ImagingArea", root.c_str(), m); break;
  }
  if (path.size() >= sizeof(request->path)) {
    errno = ENAMETOOLONG;
    return false;
  }
  memcpy(request->path, path.c_str(), path.size() + 1);
  return true;
}

std::string MakeFormatId(int name_length, int32_t width, int32_t height, long seconds,
                         long microseconds) {
  return StringPrintf("%s%02X%02X%03X%01X%04X", "KsL", static_cast<unsigned>(name_length),
                      static_cast<unsigned>(width), static_cast<unsigned>(height) & 0xFFFu,
                      static_cast<unsigned>(seconds) & 0xFu,
                      static_cast<unsigned>(microseconds) & 0xFFFFu);
}

bool FindFormatId(const char* path, const char* name, std::string* id) {
  FILE* in = fopen(path, "r");
  if (in == nullptr) return false;
  bool found = FindFormatIdIn(in, name, id);
  fclose(in);
  return found;
}

bool FindFormatIdIn(FILE* in, const char* name, std::string* id) {
  // Only a line that holds the name can match, so only those are looked at.
  LineBlockReader reader(in);
  std::string_view lines;
  while (reader.Next(&lines)) {
    LineSpan span;
    for (size_t pos = 0; FindLineContaining(lines, pos, name, &span); pos = span.end) {
      std::string line(lines.substr(span.start, span.end - span.start));
      if (MatchEntry(line.c_str(), name, id)) return true;
    }
  }
  return false;
}
