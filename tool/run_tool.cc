#include "tool/run_tool.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lineio/rewrite.h"
#include "lineio/write_all.h"
#include "tool/command_line.h"
#include "tool/data_set.h"
#include "tool/list_formats.h"
#include "tool/model_dir.h"
#include "tool/operations.h"

namespace {

constexpr int kExitFailure = -1;

// With the lock held no other run is writing, so a temporary copy beside a
// data file can only be left over from a run that was killed.
void RemoveStaleCopies(const ModelDir& dir) {
  for (DataFile file : {DataFile::kFuncList, DataFile::kPaperInfo, DataFile::kRc,
                        DataFile::kImagingArea}) {
    unlinkat(dir.fd(), (DataFileName(dir.model(), file) + kTempSuffix).c_str(), 0);
  }
}

void Print(FILE* out, const std::string& text) { WriteAll(text.data(), text.size(), out); }

int ReportError(FILE* out, int error) {
  Print(out, std::string(strerror(error)) + "\n");
  return kExitFailure;
}

int Delete(const FormatRequest& request, const ModelDir& dir, FILE* out) {
  int result = DeleteFormat(request, dir);
  int error = errno;
  switch (result) {
    case kOpDone: return 0;
    case kOpNotFound: Print(out, std::string("Not found '") + request.name + "'\n"); return 0;
    case kOpOpenFailed: return ReportError(out, error);
    default: return kExitFailure;  // the spooler-side tool has spoken
  }
}

int Add(const FormatRequest& request, const ModelDir& dir, FILE* out) {
  int result = DeleteFormat(request, dir);
  int error = errno;
  if (result == kOpSpoolerFailed) return kExitFailure;
  if (result == kOpOpenFailed) return ReportError(out, error);

  result = AddFormat(request, dir);
  error = errno;
  if (result == kOpOpenFailed) return ReportError(out, error);
  if (result == kOpSpoolerFailed) return kExitFailure;
  return 0;
}

int List(const ModelDir& dir, FILE* out) {
  return ListFormats(dir, out) == 0 ? 0 : ReportError(out, errno);
}

}  // namespace

int RunTool(int argc, const char* const* argv, const std::string& root, FILE* out) {
  // Inherited from a parent that ignores it, SIGCHLD set to SIG_IGN makes
  // the shell's child vanish unwaited, and the spooler-side tool's status
  // with it.
  signal(SIGCHLD, SIG_DFL);
  ParsedCommandLine parsed = ParseCommandLine(argc, argv);
  switch (parsed.command) {
    case Command::kInvalidModel:
      Print(out, std::string(argc > 0 ? argv[0] : "") + " is invalid.\n\n");
      return 0;
    case Command::kUsage:
      Print(out, UsageText());
      return 0;
    case Command::kDelete:
    case Command::kAdd:
    case Command::kList:
      break;
  }
  std::string base = root;
  if (!base.empty() && base.back() != '/') base += '/';
  ModelDir dir(base, parsed.request.model);
  // Listings may run side by side; a change waits until none is reading.
  const bool list = parsed.command == Command::kList;
  if (int error = dir.Lock(list ? ModelDir::LockMode::kShared : ModelDir::LockMode::kExclusive);
      error != 0) {
    return ReportError(out, error);
  }
  if (list) return List(dir, out);
  if (dir.fd() >= 0) RemoveStaleCopies(dir);
  if (parsed.command == Command::kDelete) return Delete(parsed.request, dir, out);
  return Add(parsed.request, dir, out);
}
