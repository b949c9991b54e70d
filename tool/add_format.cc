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

int AddFormat(FormatRequest request, const std::string& root) {
  timeval now{};
  gettimeofday(&now, nullptr);
  return AddFormatAt(request, root, now.tv_sec, now.tv_usec);
}

int AddFormatAt(FormatRequest request, const std::string& root, long seconds,
                long microseconds) {
  const std::string id = MakeFormatId(static_cast<int>(strlen(request.name)), request.width,
                                      request.height, seconds, microseconds);
  std::string paper_entry;
  if (!PaperInfoLine(id, request.name, request.width, request.height, &paper_entry)) {
    errno = EOVERFLOW;
    return kOpOpenFailed;
  }

  if (!BuildPath(&request, root, DataFile::kSpoolerTool)) return kOpOpenFailed;
  if (!RunSpoolerTool(AddCommand(request.path, request.queue, request.name, request.width,
                                 request.height, id))) {
    return kOpSpoolerFailed;
  }

  // User formats go directly after the custom tape section header.
  const LineEdit insert{"[CustomTape]", LineEdit::Action::kInsertAfter,
                        StringPrintf("%s/%s\n", id.c_str(), request.name)};
  if (!BuildPath(&request, root, DataFile::kFuncList)) return kOpOpenFailed;
  if (RewriteInPlace(request.path, insert, "") != 0) return kOpOpenFailed;

  const LineEdit copy;
  if (!BuildPath(&request, root, DataFile::kPaperInfo)) return kOpOpenFailed;
  if (RewriteInPlace(request.path, copy, paper_entry) != 0) return kOpOpenFailed;

  if (!BuildPath(&request, root, DataFile::kImagingArea)) return kOpOpenFailed;
  if (RewriteInPlace(request.path, copy, ImagingAreaLine(id, request.width, request.height)) !=
      0) {
    return kOpOpenFailed;
  }
  return kOpDone;
}
