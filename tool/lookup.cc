#include "tool/lookup.h"

#include <cerrno>

#include "lineio/line_blocks.h"
#include "tool/format_id.h"

namespace {

// Calls |match| with each line of |in| that contains |needle| until it
// returns true: found. A read error or a line longer than kLineMax (EFBIG)
// before that fails.
template <typename Match>
Status Scan(FILE* in, std::string_view needle, Match match) {
  // Only a line that holds the needle can match, so only those are looked at.
  LineBlockReader reader(in);
  std::string_view lines;
  while (reader.Next(&lines)) {
    LineSpan span;
    for (size_t pos = 0; FindLineContaining(lines, pos, needle, &span); pos = span.end) {
      if (match(lines.substr(span.start, span.end - span.start))) return {};
    }
  }
  return reader.error() != 0 ? Status::Error(reader.error()) : Status::NotFound();
}

// Opens |file| for a lookup: a file that is not there holds nothing.
Status OpenForLookup(const DataSet& data, DataFile file, FILE** in) {
  const Status opened = data.OpenForReading(file, in);
  return opened.error() == ENOENT ? Status::NotFound() : opened;
}

}  // namespace

Status FindFormatId(const DataSet& data, DataFile file, const char* name, std::string* id) {
  FILE* in;
  if (Status opened = OpenForLookup(data, file, &in); !opened.ok()) return opened;
  const Status found = FindFormatIdIn(in, name, id);
  fclose(in);  // read-only: nothing to lose
  return found.kind() == Status::Kind::kError ? found.WithPath(data.PathOf(file)) : found;
}

Status FindFormatIdIn(FILE* in, const char* name, std::string* id) {
  return Scan(in, name, [&](std::string_view line) {
    const std::string_view found = EntryIdNamed(line, name);
    if (found.empty()) return false;
    id->assign(found);
    return true;
  });
}

Status FindIdLine(const DataSet& data, const std::string& id) {
  for (const DataFileRow& row : kDataFiles) {
    if (row.lines == EntryLines::kSettings) continue;
    FILE* in;
    Status found = OpenForLookup(data, row.file, &in);
    if (found.ok()) {
      found = FindIdLineIn(in, id);
      fclose(in);
      if (found.kind() == Status::Kind::kError) found = found.WithPath(data.PathOf(row.file));
    }
    if (!found.not_found()) return found;
  }
  return Status::NotFound();
}

Status FindIdLineIn(FILE* in, const std::string& id) {
  return Scan(in, id, [&](std::string_view line) { return FormatIdIn(line) == id; });
}
