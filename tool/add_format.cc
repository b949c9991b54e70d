#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "lineio/rewrite.h"
#include "tool/format_id.h"
#include "tool/lookup.h"
#include "tool/one_pass.h"
#include "tool/operations.h"
#include "tool/spooler.h"

Status TimeOfDay(int64_t* seconds, long* microseconds) {
  timeval now{};
  if (gettimeofday(&now, nullptr) != 0) return Status::FromErrno();
  *seconds = now.tv_sec;
  *microseconds = now.tv_usec;
  return {};
}

namespace {

// An identifier made from the time of day as it is now, or why the clock
// cannot be read.
Status IdFromClock(const FormatRequest& request, TimeSource now, std::string* id) {
  int64_t seconds;
  long microseconds;
  if (Status read = now(&seconds, &microseconds); !read.ok()) return read;
  *id = MakeFormatId(static_cast<int>(strlen(request.name)), request.width, request.height,
                     seconds, microseconds);
  return {};
}

// The paper info entry of the format under |id|: EOVERFLOW if its size in
// dots does not fit.
Status PaperEntry(const FormatRequest& request, const std::string& id, std::string* line) {
  if (PaperInfoLine(id, request.name, request.width, request.height, line)) return {};
  return Status::Error(EOVERFLOW);
}

// An identifier made from the time of day that no data file holds yet
// (deleting one of two formats of the same identifier would take both).
Status NewFormatId(const FormatRequest& request, const DataSet& data, TimeSource now,
                   std::string* id) {
  for (int i = 0; i < kIdTries; ++i) {
    if (Status made = IdFromClock(request, now, id); !made.ok()) return made;
    const Status found = FindIdLine(data, *id);
    if (found.not_found()) return {};
    if (!found.ok()) return found;
  }
  return Status::Error(EEXIST);
}

// The general way: the old format's identifiers and a free new one are
// looked up first, then every file is staged.
Status StageAddLooking(DataSet& data, const FormatRequest& request, TimeSource now,
                       std::vector<std::string>* old_ids, std::string* id) {
  bool by_id = false;
  const Status found = FindFormatIds(request, data, old_ids, &by_id);
  if (found.not_found()) old_ids->clear();
  else if (!found.ok()) return found;
  if (Status made = NewFormatId(request, data, now, id); !made.ok()) return made;
  std::string paper_entry;
  if (Status entry = PaperEntry(request, *id, &paper_entry); !entry.ok()) return entry;
  const LineEdit insert{kCustomTapeHeader, LineEdit::Action::kInsertAfter,
                        FuncListLine(*id, request.name), nullptr, nullptr};
  // Each file: the old format's lines out (checked first), the new one in.
  auto edits = [&](EntryLines lines, std::vector<LineEdit> more) {
    if (!old_ids->empty()) more.insert(more.begin(), RemovalEdit(lines, *old_ids, *id));
    return more;
  };
  Status staged = data.RewriteInPlace(DataFile::kFuncList, edits(EntryLines::kNamed, {insert}), "");
  if (staged.ok()) {
    staged = data.RewriteInPlace(DataFile::kPaperInfo, edits(EntryLines::kNamed, {}), paper_entry);
  }
  if (staged.ok() && !old_ids->empty()) {
    staged = data.RewriteInPlace(DataFile::kRc, edits(EntryLines::kSettings, {}), "");
  }
  if (staged.ok()) {
    staged = data.RewriteInPlace(DataFile::kImagingArea, edits(EntryLines::kIdOnly, {}),
                                 ImagingAreaLine(*id, request.width, request.height));
  }
  return staged;
}

// Stages the add: in one read of each file where it can, else looking
// first. The identifier is one no data file holds.
Status StageAdd(DataSet& data, const FormatRequest& request, TimeSource now,
                std::vector<std::string>* old_ids, std::string* id) {
  old_ids->clear();
  // A name that is an identifier may stand for a format left half entered:
  // the general way knows that rule.
  if (IsFormatId(request.name)) return StageAddLooking(data, request, now, old_ids, id);
  for (int i = 0; i < kIdTries; ++i) {
    NewEntry entry;
    if (Status made = IdFromClock(request, now, &entry.id); !made.ok()) return made;
    if (Status line = PaperEntry(request, entry.id, &entry.paper_line); !line.ok()) return line;
    entry.func_line = FuncListLine(entry.id, request.name);
    entry.area_line = ImagingAreaLine(entry.id, request.width, request.height);
    std::string old;
    Status status;
    switch (StageOnce(data, request.name, &entry, &old, &status)) {
      case OnePass::kStaged:
        if (!old.empty()) old_ids->push_back(old);
        *id = entry.id;
        return {};
      case OnePass::kIdInUse: continue;
      case OnePass::kNotFound:  // an add stages its entry whatever it finds
      case OnePass::kStartOver: return StageAddLooking(data, request, now, old_ids, id);
      case OnePass::kFailed: return status;
    }
  }
  return Status::Error(EEXIST);
}

}  // namespace

Status AddFormat(FormatRequest request, DataSet& data, TimeSource now) {
  // The format of the same name goes, as a delete would take it; its
  // removal and the new entry are staged as one change before the
  // spooler-side tool is asked to do either, so that a data file that
  // cannot be changed stops the run first, and committed once it has done
  // both.
  std::vector<std::string> old_ids;
  std::string id;
  Status staged = StageAdd(data, request, now, &old_ids, &id);
  if (staged.ok()) staged = BuildSpoolerToolPath(&request, data.root());
  if (!staged.ok()) {
    data.Abandon();
    return staged;
  }
  if (Status deleted = RunSpoolerDelete(request, data); !deleted.ok()) {
    data.Abandon();
    return deleted;
  }
  const Status added = RunSpoolerTool(AddCommand(request.path, request.queue, request.name,
                                                 request.width, request.height, id));
  if (!added.ok()) {
    // The spooler side no longer holds the old format: neither may the files.
    data.Abandon();
    if (old_ids.empty()) return added;
    size_t edited = 0;
    if (Status removed = StageRemoval(data, old_ids, &edited); !removed.ok()) return removed;
    if (Status committed = data.Commit(); !committed.ok()) return committed;
    return added;
  }
  return data.Commit();
}
