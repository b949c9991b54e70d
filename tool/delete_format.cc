#include <cerrno>
#include <string>

#include "lineio/rewrite.h"
#include "tool/data_set.h"
#include "tool/operations.h"
#include "tool/spooler.h"

namespace {

LineEdit DropLinesWith(const std::string& id) {
  return {id, LineEdit::Action::kDrop, ""};
}

}  // namespace

int DeleteFormat(FormatRequest request, const std::string& root) {
  if (!BuildPath(&request, root, DataFile::kSpoolerTool)) return kOpOpenFailed;
  if (!RunSpoolerTool(DeleteCommand(request.path, request.queue, request.name))) {
    return kOpSpoolerFailed;
  }

  std::string id;
  if (!BuildPath(&request, root, DataFile::kFuncList)) return kOpOpenFailed;
  if (!FindFormatId(request.path, request.name, &id)) return kOpNotFound;
  if (RewriteInPlace(request.path, DropLinesWith(id), "") != 0) return kOpOpenFailed;

  // From here on the identifier is the one the paper info file holds.
  if (!BuildPath(&request, root, DataFile::kPaperInfo)) return kOpOpenFailed;
  if (!FindFormatId(request.path, request.name, &id)) return kOpNotFound;
  if (RewriteInPlace(request.path, DropLinesWith(id), "") != 0) return kOpOpenFailed;

  if (!BuildPath(&request, root, DataFile::kRc)) return kOpOpenFailed;
  const LineEdit reset{id, LineEdit::Action::kReplace, kRcResetLine};
  // A model without an rc file has no setting to reset; stopping here would
  // leave the imaging area line behind and block every later add of the name.
  if (RewriteInPlace(request.path, reset, "") != 0 && errno != ENOENT) return kOpOpenFailed;

  if (!BuildPath(&request, root, DataFile::kImagingArea)) return kOpOpenFailed;
  if (RewriteInPlace(request.path, DropLinesWith(id), "") != 0) return kOpOpenFailed;
  return kOpDone;
}
