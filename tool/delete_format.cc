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

}  // namespace

int FindFormatIds(const FormatRequest& request, const DataSet& data,
                  std::vector<std::string>* ids, bool* by_id) {
  ids->clear();
  for (const DataFileRow& row : kDataFiles) {
    if (row.lines != EntryLines::kNamed) continue;
    std::string id;
    switch (FindFormatId(data, row.file, request.name, &id)) {
      case Lookup::kFound:
        if (!IsOneOf(id, *ids)) ids->push_back(id);
        break;
      case Lookup::kNotFound: break;
      case Lookup::kFailed: return kOpOpenFailed;
    }
  }
  // What the listing shows of a format left half entered is its identifier.
  *by_id = ids->empty();
  if (*by_id) {
    if (!IsFormatId(request.name)) return kOpNotFound;
    ids->push_back(request.name);
  }
  return kOpDone;
}

LineEdit RemovalEdit(EntryLines lines, const std::vector<std::string>& ids,
                     const std::string& new_id) {
  if (lines == EntryLines::kSettings) {
    LineEdit edit{CommonPrefix(ids), LineEdit::Action::kReplace, "",
                  [&ids](std::string_view line) {
                    for (const std::string& id : ids) {
                      if (SettingValueIs(line, id)) return true;
                    }
                    return false;
                  },
                  nullptr};
    if (new_id.empty()) {
      edit.replacement = [](std::string_view line) { return ResetSetting(line); };
    } else {
      edit.replacement = [new_id](std::string_view line) { return RenamedSetting(line, new_id); };
    }
    return edit;
  }
  return {CommonPrefix(ids), LineEdit::Action::kDrop, "",
          [&ids](std::string_view line) { return IsOneOf(FormatIdIn(line), ids); }, nullptr};
}

int StageRemoval(DataSet& data, const std::vector<std::string>& ids, size_t* edited) {
  *edited = 0;
  for (const DataFileRow& row : kDataFiles) {
    size_t n = 0;
    if (data.RewriteInPlace(row.file, {RemovalEdit(row.lines, ids, "")}, "", &n) != 0) {
      return kOpOpenFailed;
    }
    *edited += n;
  }
  return kOpDone;
}

int RunSpoolerDelete(const FormatRequest& request, const DataSet& data) {
  FormatRequest scratch = request;
  if (!BuildSpoolerToolPath(&scratch, data.root())) return kOpOpenFailed;
  return RunSpoolerTool(DeleteCommand(scratch.path, request.queue, request.name));
}

int DeleteOnSpoolerSide(const FormatRequest& request, const DataSet& data,
                        std::vector<std::string>* ids, bool* by_id) {
  if (int result = RunSpoolerDelete(request, data); result != kOpDone) return result;
  // Everything is looked up before anything changes.
  return FindFormatIds(request, data, ids, by_id);
}

int DeleteFormat(FormatRequest request, DataSet& data) {
  std::vector<std::string> ids;
  bool by_id = false;
  if (int result = DeleteOnSpoolerSide(request, data, &ids, &by_id); result != kOpDone) {
    return result;
  }

  size_t edited = 0;
  if (StageRemoval(data, ids, &edited) != kOpDone) return kOpOpenFailed;
  if (by_id && edited == 0) {
    data.Abandon();
    return kOpNotFound;
  }
  return data.Commit() == 0 ? kOpDone : kOpOpenFailed;
}
