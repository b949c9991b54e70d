#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "lineio/rewrite.h"
#include "lineio/string_printf.h"
#include "tool/data_set.h"
#include "tool/label_size.h"
#include "tool/operations.h"
#include "tool/spooler.h"

bool PaperInfoLine(const std::string& id, const char* name, int32_t width, int32_t height,
                   std::string* line) {
  int32_t width_dots, height_dots;
  if (!WidthDots(width, &width_dots) || !HeightDots(height, &height_dots)) return false;
  *line = StringPrintf("%s/%s:\t%d\t%d\n", id.c_str(), name, width_dots, height_dots);
  return true;
}

std::string ImagingAreaLine(const std::string& id, int32_t width, int32_t height) {
  return StringPrintf("%s\t:\t%.2f\t%.2f\t%.2f\t%.2f\n", id.c_str(), kLeftMarginPoints,
                      kBottomMarginPoints, RightEdgePoints(width), TopEdgePoints(height));
}

int AddFormat(FormatRequest request, const ModelDir& dir) {
  timeval now{};
  if (gettimeofday(&now, nullptr) != 0) return kOpOpenFailed;
  return AddFormatAt(request, dir, now.tv_sec, now.tv_usec);
}

int AddFormatAt(FormatRequest request, const ModelDir& dir, int64_t seconds,
                long microseconds) {
  const std::string id = MakeFormatId(static_cast<int>(strlen(request.name)), request.width,
                                      request.height, seconds, microseconds);
  std::string paper_entry;
  if (!PaperInfoLine(id, request.name, request.width, request.height, &paper_entry)) {
    errno = EOVERFLOW;
    return kOpOpenFailed;
  }

  if (!BuildPath(&request, dir.root(), DataFile::kSpoolerTool)) return kOpOpenFailed;
  int result = RunSpoolerTool(AddCommand(request.path, request.queue, request.name,
                                         request.width, request.height, id));
  if (result != kOpDone) return result;

  const LineEdit insert{kCustomTapeHeader, LineEdit::Action::kInsertAfter,
                        StringPrintf("%s/%s\n", id.c_str(), request.name)};
  if (RewriteDataFile(dir, DataFile::kFuncList, insert, "") != 0) return kOpOpenFailed;

  const LineEdit copy;
  if (RewriteDataFile(dir, DataFile::kPaperInfo, copy, paper_entry) != 0) return kOpOpenFailed;
  if (RewriteDataFile(dir, DataFile::kImagingArea, copy,
                      ImagingAreaLine(id, request.width, request.height)) != 0) {
    return kOpOpenFailed;
  }
  return kOpDone;
}
