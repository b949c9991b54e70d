#include "tool/data_set.h"

#include <algorithm>
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

// A line is looked at up to its first zero byte and its newline.
std::string_view Text(std::string_view line) {
  return line.substr(0, std::min(line.find('\0'), line.find('\n')));
}

bool MatchEntry(std::string_view line, const char* name, std::string* id) {
  std::string_view found = FormatIdIn(line);
  std::string_view entry;
  if (found.empty() || !EntryNameIn(line, found, &entry) || entry != name) return false;
  id->assign(found);
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

std::string_view FormatIdIn(std::string_view line) {
  line = Text(line);
  size_t at = line.find("KsL");
  if (at == std::string_view::npos) return {};
  size_t end = at + 3;
  while (end < line.size() && IsUpperHex(line[end])) ++end;
  if (end - at - 3 < kMinIdDigits) return {};
  return line.substr(at, end - at);
}

bool EntryNameIn(std::string_view line, std::string_view id, std::string_view* name) {
  line = Text(line);
  size_t length = static_cast<size_t>(HexValue(id[3]) * 16 + HexValue(id[4]));
  size_t start = static_cast<size_t>(id.data() - line.data()) + id.size() + 1;  // the separator
  if (start > line.size() || line.size() - start < length) return false;
  *name = line.substr(start, length);
  return true;
}

FILE* OpenModelFile(const ModelDir& dir, DataFile file) {
  if (dir.fd() < 0) {
    errno = dir.error();
    return nullptr;
  }
  return OpenDataFile(dir.fd(), DataFileName(dir.model(), file).c_str());
}

Lookup FindFormatId(const ModelDir& dir, DataFile file, const char* name, std::string* id) {
  FILE* in = OpenModelFile(dir, file);
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
      if (MatchEntry(lines.substr(span.start, span.end - span.start), name, id)) {
        return Lookup::kFound;
      }
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
