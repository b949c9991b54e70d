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

int AddFormat(FormatRequest request, const std::string& root) {
  timeval now{};
  gettimeofday(&now, nullptr);
  return AddFormatAt(request, root, now.tv_sec, now.tv_usec);
}

int AddFormatAt(FormatRequest request, const std::string& root, long seconds,
                long microseconds) {
  int32_t width_dots, height_dots;
  if (!WidthDots(request.width, &width_dots) || !HeightDots(request.height, &height_dots)) {
    errno = EOVERFLOW;
    return kOpOpenFailed;
  }
  const std::string id = MakeFormatId(static_cast<int>(strlen(request.name)), request.width,
                                      request.height, seconds, microseconds);

  if (!BuildPath(&request, root, DataFile::kSpoolerTool)) return kOpOpenFailed;
  if (!RunSpoolerTool(AddCommand(request.path, request.queue, request.name, request.width,
                                 request.height, id))) {
    return kOpSpoolerFailed;
  }

  // User formats go directly after the custom tape section header.
  const std::string func_entry = StringPrintf("%s/%s\n", id.c_str(), request.name);
  auto insert = [&func_entry](const LineBuffer& line, RewriteSink* out) {
    out->WriteLine(line.data, line.length);
    if (LineContains(line, "[CustomTape]")) out->WriteLine(func_entry);
  };
  if (!BuildPath(&request, root, DataFile::kFuncList)) return kOpOpenFailed;
  if (RewriteInPlace(request.path, insert, "") != 0) return kOpOpenFailed;

  auto copy = [](const LineBuffer& line, RewriteSink* out) {
    out->WriteLine(line.data, line.length);
  };
  if (!BuildPath(&request, root, DataFile::kPaperInfo)) return kOpOpenFailed;
  const std::string paper_entry = StringPrintf("%s/%s:\t%d\t%d\n", id.c_str(), request.name,
                                               width_dots, height_dots);
  if (RewriteInPlace(request.path, copy, paper_entry) != 0) return kOpOpenFailed;

  if (!BuildPath(&request, root, DataFile::kImagingArea)) return kOpOpenFailed;
  const std::string area_entry =
      StringPrintf("%s\t:\t%.2f\t%.2f\t%.2f\t%.2f\n", id.c_str(), kLeftMarginPoints,
                   kBottomMarginPoints, RightEdgePoints(request.width),
                   TopEdgePoints(request.height));
  if (RewriteInPlace(request.path, copy, area_entry) != 0) return kOpOpenFailed;
  return kOpDone;
}
