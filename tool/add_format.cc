#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "lineio/rewrite.h"
#include "tool/format_id.h"
#include "tool/lookup.h"
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

// What staging an add in one read of each file came to; kFailed with
// *status saying why.
enum class Once { kStaged, kIdInUse, kStartOver, kFailed };

// Stages the common add reading each data file once: while each file is
// copied, its pass looks for the format of request.name (the first entry
// of that name in the func list; the paper info file must name it alike),
// leaves out its lines, checks that no line holds |id| yet, and enters the
// new format under |id|. Anything else is left to the general way, which
// looks first: kIdInUse (|id| is taken) and kStartOver (the old format is
// named in the paper info file alone or under another identifier, or a line
// of it comes before its entry) leave nothing staged. |*old_id|: the
// identifier of the format replaced, if any.
Once StageAddOnce(DataSet& data, const FormatRequest& request, const std::string& id,
                  const std::string& paper_entry, std::string* old_id, Status* status) {
  const std::string_view name = request.name;
  std::string old;      // the old format's identifier, once its entry is met
  bool in_use = false;  // a line holds |id|
  // Seen first, and never applying: a line that holds |id| marks it taken.
  const LineEdit taken{id, LineEdit::Action::kCopy, "",
                       [&](std::string_view line) {
                         if (FormatIdIn(line) == id) in_use = true;
                         return false;
                       },
                       nullptr};
  // Lines of the old format, once it is known.
  const LineEdit old_lines{"", LineEdit::Action::kDrop, "",
                           [&](std::string_view line) { return FormatIdIn(line) == old; },
                           nullptr, &old};
  const LineEdit func_entry{std::string(name), LineEdit::Action::kDrop, "",
                            [&](std::string_view line) {
                              const std::string_view found = EntryIdNamed(line, name);
                              if (found.empty()) return false;
                              if (old.empty()) old = found;
                              return found == old;
                            },
                            nullptr};
  const LineEdit insert{kCustomTapeHeader, LineEdit::Action::kInsertAfter,
                        FuncListLine(id, request.name), nullptr, nullptr};
  auto fail = [&](Once why) {
    data.Abandon();
    return why;
  };
  auto failed = [&](const Status& why) {
    *status = why;
    return fail(Once::kFailed);
  };
  if (Status staged =
          data.RewriteInPlace(DataFile::kFuncList, {taken, func_entry, old_lines, insert}, "");
      !staged.ok()) {
    return failed(staged);
  }
  if (in_use) return fail(Once::kIdInUse);
  if (!old.empty()) {
    // A line of the old format before its entry was copied before it was
    // known: then the general way. The copy is looked at, not the file.
    FILE* copy;
    if (Status opened = data.OpenStagedCopy(DataFile::kFuncList, &copy); !opened.ok()) {
      return failed(opened);
    }
    const Status early = FindIdLineIn(copy, old);
    fclose(copy);
    if (early.ok()) return fail(Once::kStartOver);
    if (!early.not_found()) return failed(early);
  }

  std::string paper_old;  // the paper info file's first entry of the name
  const LineEdit paper_named{std::string(name), LineEdit::Action::kCopy, "",
                             [&](std::string_view line) {
                               const std::string_view found = EntryIdNamed(line, name);
                               if (!found.empty() && paper_old.empty()) paper_old = found;
                               return false;
                             },
                             nullptr};
  std::vector<LineEdit> paper_edits = {taken, paper_named};
  if (!old.empty()) paper_edits.push_back(old_lines);
  if (Status staged = data.RewriteInPlace(DataFile::kPaperInfo, paper_edits, paper_entry);
      !staged.ok()) {
    return failed(staged);
  }
  if (in_use) return fail(Once::kIdInUse);
  if (paper_old != old) return fail(Once::kStartOver);

  std::vector<LineEdit> area_edits = {taken};
  if (!old.empty()) area_edits.push_back(old_lines);
  if (Status staged = data.RewriteInPlace(DataFile::kImagingArea, area_edits,
                                          ImagingAreaLine(id, request.width, request.height));
      !staged.ok()) {
    return failed(staged);
  }
  if (in_use) return fail(Once::kIdInUse);
  if (!old.empty()) {
    const std::vector<std::string> ids = {old};
    if (Status staged =
            data.RewriteInPlace(DataFile::kRc, {RemovalEdit(EntryLines::kSettings, ids, id)}, "");
        !staged.ok()) {
      return failed(staged);
    }
  }
  *old_id = old;
  return Once::kStaged;
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
    std::string paper_entry, old;
    if (Status made = IdFromClock(request, now, id); !made.ok()) return made;
    if (Status entry = PaperEntry(request, *id, &paper_entry); !entry.ok()) return entry;
    Status status;
    switch (StageAddOnce(data, request, *id, paper_entry, &old, &status)) {
      case Once::kStaged:
        if (!old.empty()) old_ids->push_back(old);
        return {};
      case Once::kIdInUse: continue;
      case Once::kStartOver: return StageAddLooking(data, request, now, old_ids, id);
      case Once::kFailed: return status;
    }
  }
  return Status::Error(EEXIST);
}

}  // namespace

Status AddFormat(FormatRequest request, DataSet& data, TimeSource now) {
  // The format of the same name goes first, as a delete would take it; its
  // removal and the new entry are staged as one change, committed once the
  // spooler-side tool has done both.
  if (Status deleted = RunSpoolerDelete(request, data); !deleted.ok()) return deleted;
  std::vector<std::string> old_ids;
  std::string id;
  Status staged = StageAdd(data, request, now, &old_ids, &id);
  if (staged.ok()) staged = BuildSpoolerToolPath(&request, data.root());
  if (!staged.ok()) {
    data.Abandon();
    return staged;
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
