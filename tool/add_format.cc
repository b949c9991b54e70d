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

bool TimeOfDay(int64_t* seconds, long* microseconds) {
  timeval now{};
  if (gettimeofday(&now, nullptr) != 0) return false;
  *seconds = now.tv_sec;
  *microseconds = now.tv_usec;
  return true;
}

namespace {

// An identifier made from the time of day as it is now; false with errno
// set if the clock cannot be read.
bool IdFromClock(const FormatRequest& request, TimeSource now, std::string* id) {
  int64_t seconds;
  long microseconds;
  if (!now(&seconds, &microseconds)) return false;
  *id = MakeFormatId(static_cast<int>(strlen(request.name)), request.width, request.height,
                     seconds, microseconds);
  return true;
}

// The paper info entry of the format under |id|; false (EOVERFLOW) if its
// size in dots does not fit.
bool PaperEntry(const FormatRequest& request, const std::string& id, std::string* line) {
  if (PaperInfoLine(id, request.name, request.width, request.height, line)) return true;
  errno = EOVERFLOW;
  return false;
}

// An identifier made from the time of day that no data file holds yet
// (deleting one of two formats of the same identifier would take both).
int NewFormatId(const FormatRequest& request, const DataSet& data, TimeSource now,
                std::string* id) {
  for (int i = 0; i < kIdTries; ++i) {
    if (!IdFromClock(request, now, id)) return kOpOpenFailed;
    switch (FindIdLine(data, *id)) {
      case Lookup::kNotFound: return kOpDone;
      case Lookup::kFound: break;
      case Lookup::kFailed: return kOpOpenFailed;
    }
  }
  errno = EEXIST;
  return kOpOpenFailed;
}

// What staging an add in one read of each file came to.
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
                  const std::string& paper_entry, std::string* old_id) {
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
  if (data.RewriteInPlace(DataFile::kFuncList, {taken, func_entry, old_lines, insert}, "") != 0) {
    return fail(Once::kFailed);
  }
  if (in_use) return fail(Once::kIdInUse);
  if (!old.empty()) {
    // A line of the old format before its entry was copied before it was
    // known: then the general way. The copy is looked at, not the file.
    FILE* copy = data.OpenStagedCopy(DataFile::kFuncList);
    if (copy == nullptr) return fail(Once::kFailed);
    const Lookup early = FindIdLineIn(copy, old);
    const int error = errno;
    fclose(copy);
    if (early == Lookup::kFailed) {
      errno = error;
      return fail(Once::kFailed);
    }
    if (early == Lookup::kFound) return fail(Once::kStartOver);
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
  if (data.RewriteInPlace(DataFile::kPaperInfo, paper_edits, paper_entry) != 0) {
    return fail(Once::kFailed);
  }
  if (in_use) return fail(Once::kIdInUse);
  if (paper_old != old) return fail(Once::kStartOver);

  std::vector<LineEdit> area_edits = {taken};
  if (!old.empty()) area_edits.push_back(old_lines);
  if (data.RewriteInPlace(DataFile::kImagingArea, area_edits,
                          ImagingAreaLine(id, request.width, request.height)) != 0) {
    return fail(Once::kFailed);
  }
  if (in_use) return fail(Once::kIdInUse);
  if (!old.empty()) {
    const std::vector<std::string> ids = {old};
    if (data.RewriteInPlace(DataFile::kRc, {RemovalEdit(EntryLines::kSettings, ids, id)}, "") !=
        0) {
      return fail(Once::kFailed);
    }
  }
  *old_id = old;
  return Once::kStaged;
}

// The general way: the old format's identifiers and a free new one are
// looked up first, then every file is staged.
int StageAddLooking(DataSet& data, const FormatRequest& request, TimeSource now,
                    std::vector<std::string>* old_ids, std::string* id) {
  bool by_id = false;
  int result = FindFormatIds(request, data, old_ids, &by_id);
  if (result == kOpNotFound) old_ids->clear();
  else if (result != kOpDone) return result;
  if (result = NewFormatId(request, data, now, id); result != kOpDone) return result;
  std::string paper_entry;
  if (!PaperEntry(request, *id, &paper_entry)) return kOpOpenFailed;
  const LineEdit insert{kCustomTapeHeader, LineEdit::Action::kInsertAfter,
                        FuncListLine(*id, request.name), nullptr, nullptr};
  // Each file: the old format's lines out (checked first), the new one in.
  auto edits = [&](EntryLines lines, std::vector<LineEdit> more) {
    if (!old_ids->empty()) more.insert(more.begin(), RemovalEdit(lines, *old_ids, *id));
    return more;
  };
  if (data.RewriteInPlace(DataFile::kFuncList, edits(EntryLines::kNamed, {insert}), "") != 0 ||
      data.RewriteInPlace(DataFile::kPaperInfo, edits(EntryLines::kNamed, {}), paper_entry) != 0 ||
      (!old_ids->empty() &&
       data.RewriteInPlace(DataFile::kRc, edits(EntryLines::kSettings, {}), "") != 0) ||
      data.RewriteInPlace(DataFile::kImagingArea, edits(EntryLines::kIdOnly, {}),
                          ImagingAreaLine(*id, request.width, request.height)) != 0) {
    return kOpOpenFailed;
  }
  return kOpDone;
}

// Stages the add: in one read of each file where it can, else looking
// first. The identifier is one no data file holds.
int StageAdd(DataSet& data, const FormatRequest& request, TimeSource now,
             std::vector<std::string>* old_ids, std::string* id) {
  old_ids->clear();
  // A name that is an identifier may stand for a format left half entered:
  // the general way knows that rule.
  if (IsFormatId(request.name)) return StageAddLooking(data, request, now, old_ids, id);
  for (int i = 0; i < kIdTries; ++i) {
    std::string paper_entry, old;
    if (!IdFromClock(request, now, id) || !PaperEntry(request, *id, &paper_entry)) {
      return kOpOpenFailed;
    }
    switch (StageAddOnce(data, request, *id, paper_entry, &old)) {
      case Once::kStaged:
        if (!old.empty()) old_ids->push_back(old);
        return kOpDone;
      case Once::kIdInUse: continue;
      case Once::kStartOver: return StageAddLooking(data, request, now, old_ids, id);
      case Once::kFailed: return kOpOpenFailed;
    }
  }
  errno = EEXIST;
  return kOpOpenFailed;
}

}  // namespace

int AddFormat(FormatRequest request, DataSet& data, TimeSource now) {
  // The format of the same name goes first, as a delete would take it; its
  // removal and the new entry are staged as one change, committed once the
  // spooler-side tool has done both.
  if (int result = RunSpoolerDelete(request, data); result != kOpDone) return result;
  std::vector<std::string> old_ids;
  std::string id;
  if (StageAdd(data, request, now, &old_ids, &id) != kOpDone) {
    data.Abandon();
    return kOpOpenFailed;
  }
  if (!BuildSpoolerToolPath(&request, data.root())) {
    data.Abandon();
    return kOpOpenFailed;
  }
  const int result = RunSpoolerTool(AddCommand(request.path, request.queue, request.name,
                                               request.width, request.height, id));
  if (result != kOpDone) {
    // The spooler side no longer holds the old format: neither may the files.
    data.Abandon();
    if (old_ids.empty()) return result;
    size_t edited = 0;
    if (StageRemoval(data, old_ids, &edited) != kOpDone || data.Commit() != 0) {
      return kOpOpenFailed;
    }
    return result;
  }
  return data.Commit() == 0 ? kOpDone : kOpOpenFailed;
}
