#include <cerrno>
#include <string>
#include <vector>

#include "lineio/rewrite.h"
#include "tool/format_id.h"
#include "tool/lookup.h"
#include "tool/one_pass.h"
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

Status FindFormatIds(const FormatRequest& request, const DataSet& data,
                     std::vector<std::string>* ids, bool* by_id) {
  ids->clear();
  for (const DataFileRow& row : kDataFiles) {
    if (row.lines != EntryLines::kNamed) continue;
    std::string id;
    const Status found = FindFormatId(data, row.file, request.name, &id);
    if (found.ok() && !IsOneOf(id, *ids)) ids->push_back(id);
    if (!found.ok() && !found.not_found()) return found;
  }
  // What the listing shows of a format left half entered is its identifier.
  *by_id = ids->empty();
  if (*by_id) {
    if (!IsFormatId(request.name)) return Status::NotFound();
    ids->push_back(request.name);
  }
  return {};
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

Status StageRemoval(DataSet& data, const std::vector<std::string>& ids, size_t* edited) {
  *edited = 0;
  for (const DataFileRow& row : kDataFiles) {
    size_t n = 0;
    if (Status staged = data.RewriteInPlace(row.file, {RemovalEdit(row.lines, ids, "")}, "", &n);
        !staged.ok()) {
      return staged;
    }
    *edited += n;
  }
  return {};
}

Status RunSpoolerDelete(const FormatRequest& request, const DataSet& data) {
  FormatRequest scratch = request;
  if (Status built = BuildSpoolerToolPath(&scratch, data.root()); !built.ok()) return built;
  return RunSpoolerTool(DeleteCommand(scratch.path, request.queue, request.name));
}

namespace {

// Stages the removal of request.name: in one read of each file where it
// can, else looking first. NotFound, with nothing staged, if no file names
// it.
Status StageDelete(const FormatRequest& request, DataSet& data) {
  // A name that is an identifier may stand for a format left half entered:
  // the general way knows that rule.
  if (!IsFormatId(request.name)) {
    std::string old;
    Status status;
    switch (StageOnce(data, request.name, nullptr, &old, &status)) {
      case OnePass::kStaged: return {};
      case OnePass::kNotFound: return Status::NotFound();
      case OnePass::kFailed: return status;
      case OnePass::kIdInUse:  // only an add has a new identifier
      case OnePass::kStartOver: break;
    }
  }
  std::vector<std::string> ids;
  bool by_id = false;
  if (Status found = FindFormatIds(request, data, &ids, &by_id); !found.ok()) return found;
  size_t edited = 0;
  if (Status staged = StageRemoval(data, ids, &edited); !staged.ok()) return staged;
  if (by_id && edited == 0) {
    data.Abandon();
    return Status::NotFound();
  }
  return {};
}

}  // namespace

Status DeleteFormat(FormatRequest request, DataSet& data) {
  // Everything is staged before the spooler-side tool is asked: a data file
  // that cannot be changed stops the run before the spooler side changes.
  const Status staged = StageDelete(request, data);
  if (!staged.ok() && !staged.not_found()) return staged;
  if (Status deleted = RunSpoolerDelete(request, data); !deleted.ok()) {
    data.Abandon();
    return deleted;
  }
  if (staged.not_found()) return staged;
  return data.Commit();
}
