#include "tool/data_set.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lineio/data_file.h"
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

std::string DataFileName(const std::string& model, DataFile file) {
  const char* m = model.c_str();
  switch (file) {
    case DataFile::kFuncList: return StringPrintf("ks%sfunc", m);
    case DataFile::kPaperInfo: return StringPrintf("paperinf%spt1", m);
    case DataFile::kRc: return StringPrintf("ks%src", m);
    case DataFile::kImagingArea: return "ImagingArea";
    case DataFile::kSpoolerTool: break;
  }
  return "";
}

bool BuildPath(FormatRequest* request, const std::string& root, DataFile file) {
  const char* m = request->model;
  std::string path = file == DataFile::kSpoolerTool
                         ? StringPrintf("%s%s/lpd/kstapefmtcups", root.c_str(), m)
                         : StringPrintf("%s%s/inf/%s", root.c_str(), m,
                                        DataFileName(m, file).c_str());
  if (path.size() >= sizeof(request->path)) {
    errno = ENAMETOOLONG;
    return false;
  }
  memcpy(request->path, path.c_str(), path.size() + 1);
  return true;
}

std::string MakeFormatId(int name_length, int32_t width, int32_t height, int64_t seconds,
                         long microseconds) {
  return StringPrintf("%s%02X%02X%03X%01X%04X", "KsL", static_cast<unsigned>(name_length),
                      static_cast<unsigned>(width), static_cast<unsigned>(height) & 0xFFFu,
                      static_cast<unsigned>(seconds) & 0xFu,
                      static_cast<unsigned>(microseconds) & 0xFFFFu);
}

Lookup FindFormatId(const ModelDir& dir, DataFile file, const char* name, std::string* id) {
  if (dir.fd() < 0) return Lookup::kNotFound;
  FILE* in = OpenDataFile(dir.fd(), DataFileName(dir.model(), file).c_str());
  if (in == nullptr) return Lookup::kNotFound;
  Lookup result = FindFormatIdIn(in, name, id);
  int saved = errno;
  fclose(in);
  errno = saved;
  return result;
}

Lookup FindFormatIdIn(FILE* in, const char* name, std::string* id) {
  // Only a line that holds the name can match, so only those are looked at.
  LineBlockReader reader(in);
  std::string_view lines;
  while (reader.Next(&lines)) {
    LineSpan span;
    for (size_t pos = 0; FindLineContaining(lines, pos, name, &span); pos = span.end) {
      std::string line(lines.substr(span.start, span.end - span.start));
      if (MatchEntry(line.c_str(), name, id)) return Lookup::kFound;
    }
  }
  if (reader.error() == 0) return Lookup::kNotFound;
  errno = reader.error();
  return Lookup::kFailed;
}

int RewriteDataFile(const ModelDir& dir, DataFile file, const LineEdit& edit,
                    const std::string& append) {
  if (dir.fd() < 0) {
    errno = dir.error();
    return -1;
  }
  return RewriteInPlace(dir.fd(), DataFileName(dir.model(), file).c_str(), edit, append);
}
