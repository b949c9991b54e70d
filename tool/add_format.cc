#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <string>

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
  std::string id;
  if (int result = NewFormatId(request, data, now, &id); result != kOpDone) return result;
  std::string paper_entry;
  if (!PaperInfoLine(id, request.name, request.width, request.height, &paper_entry)) {
    errno = EOVERFLOW;
    return kOpOpenFailed;
  }

  if (!BuildSpoolerToolPath(&request, data.root())) return kOpOpenFailed;
  int result = RunSpoolerTool(AddCommand(request.path, request.queue, request.name,
                                         request.width, request.height, id));
  if (result != kOpDone) return result;

  const LineEdit insert{kCustomTapeHeader, LineEdit::Action::kInsertAfter,
                        FuncListLine(id, request.name), nullptr};
  const LineEdit copy;
  if (data.RewriteInPlace(DataFile::kFuncList, insert, "") != 0 ||
      data.RewriteInPlace(DataFile::kPaperInfo, copy, paper_entry) != 0 ||
      data.RewriteInPlace(DataFile::kImagingArea, copy,
                          ImagingAreaLine(id, request.width, request.height)) != 0 ||
      data.Commit() != 0) {
    return kOpOpenFailed;
  }
  return kOpDone;
}
