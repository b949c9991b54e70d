#include "tool/lookup.h"

#include <cerrno>

#include "lineio/line_blocks.h"
#include "tool/format_id.h"

namespace {

// Calls |match| with each line of |in| that contains |needle| until it
// returns true. kFailed, with errno set, for a read error or a line longer
// than kLineMax.
template <typename Match>
Lookup Scan(FILE* in, std::string_view needle, Match match) {
  // Only a line that holds the needle can match, so only those are looked at.
  LineBlockReader reader(in);
  std::string_view lines;
  Lookup result = Lookup::kNotFound;
  while (result == Lookup::kNotFound && reader.Next(&lines)) {
    LineSpan span;
    for (size_t pos = 0; FindLineContaining(lines, pos, needle, &span); pos = span.end) {
      if (match(lines.substr(span.start, span.end - span.start))) {
        result = Lookup::kFound;
        break;
      }
    }
  }
  const int error = reader.error();
  if (result == Lookup::kNotFound && error != 0) {
    errno = error;
    return Lookup::kFailed;
  }
  return result;
}

// Opens |file| for a lookup: null with *result set if there is nothing to
// scan.
FILE* OpenForLookup(const DataSet& data, DataFile file, Lookup* result) {
  FILE* in = data.OpenForReading(file);
  if (in == nullptr) *result = errno == ENOENT ? Lookup::kNotFound : Lookup::kFailed;
  return in;
}

void CloseKeepingErrno(FILE* in) {
  int saved = errno;
  fclose(in);  // read-only: nothing to lose
  errno = saved;
}

}  // namespace

Lookup FindFormatId(const DataSet& data, DataFile file, const char* name, std::string* id) {
  Lookup result;
  FILE* in = OpenForLookup(data, file, &result);
  if (in == nullptr) return result;
  result = FindFormatIdIn(in, name, id);
  CloseKeepingErrno(in);
  return result;
}

Lookup FindFormatIdIn(FILE* in, const char* name, std::string* id) {
  return Scan(in, name, [&](std::string_view line) {
    const std::string_view found = EntryIdNamed(line, name);
    if (found.empty()) return false;
    id->assign(found);
    return true;
  });
}

Lookup FindIdLine(const DataSet& data, const std::string& id) {
  for (const DataFileRow& row : kDataFiles) {
    if (row.lines == EntryLines::kSettings) continue;
    Lookup result;
    FILE* in = OpenForLookup(data, row.file, &result);
    if (in != nullptr) {
      result = FindIdLineIn(in, id);
      CloseKeepingErrno(in);
    }
    if (result != Lookup::kNotFound) return result;
  }
  return Lookup::kNotFound;
}

Lookup FindIdLineIn(FILE* in, const std::string& id) {
  return Scan(in, id, [&](std::string_view line) { return FormatIdIn(line) == id; });
}
