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

int LookUp(const ModelDir& dir, DataFile file, const char* name, std::string* id) {
  switch (FindFormatId(dir, file, name, id)) {
    case Lookup::kFound: return kOpDone;
    case Lookup::kNotFound: return kOpNotFound;
    case Lookup::kFailed: break;
  }
  return kOpOpenFailed;
}

}  // namespace

int DeleteFormat(FormatRequest request, const ModelDir& dir) {
  if (!BuildPath(&request, dir.root(), DataFile::kSpoolerTool)) return kOpOpenFailed;
  int result = RunSpoolerTool(DeleteCommand(request.path, request.queue, request.name));
  if (result != kOpDone) return result;

  std::string id;
  if ((result = LookUp(dir, DataFile::kFuncList, request.name, &id)) != kOpDone) return result;
  if (RewriteDataFile(dir, DataFile::kFuncList, DropLinesWith(id), "") != 0) {
    return kOpOpenFailed;
  }

  // From here on the identifier is the one the paper info file holds.
  if ((result = LookUp(dir, DataFile::kPaperInfo, request.name, &id)) != kOpDone) return result;
  if (RewriteDataFile(dir, DataFile::kPaperInfo, DropLinesWith(id), "") != 0) {
    return kOpOpenFailed;
  }

  const LineEdit reset{id, LineEdit::Action::kReplace, kRcResetLine};
  // A model without an rc file has no setting to reset; stopping here would
  // leave the imaging area line behind and block every later add of the name.
  if (RewriteDataFile(dir, DataFile::kRc, reset, "") != 0 && errno != ENOENT) {
    return kOpOpenFailed;
  }

  if (RewriteDataFile(dir, DataFile::kImagingArea, DropLinesWith(id), "") != 0) {
    return kOpOpenFailed;
  }
  return kOpDone;
}
