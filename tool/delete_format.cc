#include <cerrno>
#include <string>
#include <vector>

#include "lineio/rewrite.h"
#include "tool/format_id.h"
#include "tool/lookup.h"
#include "tool/operations.h"
#include "tool/spooler.h"

namespace {

// The identifiers have one prefix (the name length at least): every line
// of any of them holds it.
std::string CommonPrefix(const std::vector<std::string>& ids) {
  std::string prefix = ids[0];
  for (const std::string& id : ids) {
    size_t n = 0;
    while (n < prefix.size() && n < id.size() && prefix[n] == id[n]) ++n;
    prefix.resize(n);
  }
  return prefix;
}

bool IsOneOf(std::string_view id, const std::vector<std::string>& ids) {
  for (const std::string& candidate : ids) {
    if (id == candidate) return true;
  }
  return false;
}

// What a delete does to the lines of a data file that name one of |ids|.
LineEdit DeleteEdit(EntryLines lines, const std::vector<std::string>& ids) {
  if (lines == EntryLines::kSettings) {
    return {CommonPrefix(ids), LineEdit::Action::kReplace, kRcResetLine,
            [&ids](std::string_view line) {
              for (const std::string& id : ids) {
                if (SettingValueIs(line, id)) return true;
              }
              return false;
            }};
  }
  return {CommonPrefix(ids), LineEdit::Action::kDrop, "",
          [&ids](std::string_view line) { return IsOneOf(FormatIdIn(line), ids); }};
}

}  // namespace

int DeleteFormat(FormatRequest request, DataSet& data) {
  if (!BuildSpoolerToolPath(&request, data.root())) return kOpOpenFailed;
  int result = RunSpoolerTool(DeleteCommand(request.path, request.queue, request.name));
  if (result != kOpDone) return result;

  // Everything is looked up before anything changes.
  std::vector<std::string> ids;
  for (const DataFileRow& row : kDataFiles) {
    if (row.lines != EntryLines::kNamed) continue;
    std::string id;
    switch (FindFormatId(data, row.file, request.name, &id)) {
      case Lookup::kFound:
        if (!IsOneOf(id, ids)) ids.push_back(id);
        break;
      case Lookup::kNotFound: break;
      case Lookup::kFailed: return kOpOpenFailed;
    }
  }
  // What the listing shows of a format left half entered is its identifier.
  const bool by_id = ids.empty();
  if (by_id) {
    if (!IsFormatId(request.name)) return kOpNotFound;
    ids.push_back(request.name);
  }

  size_t edited = 0;
  for (const DataFileRow& row : kDataFiles) {
    size_t n = 0;
    if (data.RewriteInPlace(row.file, DeleteEdit(row.lines, ids), "", &n) != 0) {
      return kOpOpenFailed;
    }
    edited += n;
  }
  if (by_id && edited == 0) {
    data.Abandon();
    return kOpNotFound;
  }
  return data.Commit() == 0 ? kOpDone : kOpOpenFailed;
}
