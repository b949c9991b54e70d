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

// An identifier made from the time of day that no data file holds yet
// (deleting one of two formats of the same identifier would take both).
int NewFormatId(const FormatRequest& request, const DataSet& data, TimeSource now,
                std::string* id) {
  for (int i = 0; i < kIdTries; ++i) {
    int64_t seconds;
    long microseconds;
    if (!now(&seconds, &microseconds)) return kOpOpenFailed;
    *id = MakeFormatId(static_cast<int>(strlen(request.name)), request.width, request.height,
                       seconds, microseconds);
    switch (FindIdLine(data, *id)) {
      case Lookup::kNotFound: return kOpDone;
      case Lookup::kFound: break;
      case Lookup::kFailed: return kOpOpenFailed;
    }
  }
  errno = EEXIST;
  return kOpOpenFailed;
}

}  // namespace

int AddFormat(FormatRequest request, DataSet& data, TimeSource now) {
  // The format of the same name goes first, as a delete would take it; its
  // removal and the new entry are one change, made once the spooler-side
  // tool has done both.
  std::vector<std::string> old_ids;
  bool by_id = false;
  int result = DeleteOnSpoolerSide(request, data, &old_ids, &by_id);
  if (result == kOpNotFound) old_ids.clear();
  else if (result != kOpDone) return result;
  if (!BuildSpoolerToolPath(&request, data.root())) return kOpOpenFailed;
  const std::string tool = request.path;

  std::string id;
  if (result = NewFormatId(request, data, now, &id); result != kOpDone) return result;
  std::string paper_entry;
  if (!PaperInfoLine(id, request.name, request.width, request.height, &paper_entry)) {
    errno = EOVERFLOW;
    return kOpOpenFailed;
  }

  result = RunSpoolerTool(AddCommand(tool, request.queue, request.name, request.width,
                                     request.height, id));
  if (result != kOpDone) {
    // The spooler side no longer holds the old format: neither may the files.
    if (old_ids.empty()) return result;
    size_t edited = 0;
    if (StageRemoval(data, old_ids, &edited) != kOpDone || data.Commit() != 0) {
      return kOpOpenFailed;
    }
    return result;
  }

  const LineEdit insert{kCustomTapeHeader, LineEdit::Action::kInsertAfter,
                        FuncListLine(id, request.name), nullptr, nullptr};
  // Each file: the old format's lines out (checked first), the new one in.
  auto edits = [&](EntryLines lines, std::vector<LineEdit> more) {
    if (!old_ids.empty()) more.insert(more.begin(), RemovalEdit(lines, old_ids, id));
    return more;
  };
  if (data.RewriteInPlace(DataFile::kFuncList, edits(EntryLines::kNamed, {insert}), "") != 0 ||
      data.RewriteInPlace(DataFile::kPaperInfo, edits(EntryLines::kNamed, {}), paper_entry) != 0 ||
      (!old_ids.empty() &&
       data.RewriteInPlace(DataFile::kRc, edits(EntryLines::kSettings, {}), "") != 0) ||
      data.RewriteInPlace(DataFile::kImagingArea, edits(EntryLines::kIdOnly, {}),
                          ImagingAreaLine(id, request.width, request.height)) != 0 ||
      data.Commit() != 0) {
    return kOpOpenFailed;
  }
  return kOpDone;
}
