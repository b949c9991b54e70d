#include "tool/run_tool.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "lineio/write_all.h"
#include "tool/command_line.h"
#include "tool/data_set.h"
#include "tool/list_formats.h"
#include "tool/operations.h"

namespace {

constexpr int kExitFailure = -1;

void Print(FILE* out, const std::string& text) { WriteAll(text.data(), text.size(), out); }

// The error text alone for the data files, whose names are fixed.
int ReportError(FILE* out, int error) {
  Print(out, std::string(strerror(error)) + "\n");
  return kExitFailure;
}

int Delete(const FormatRequest& request, DataSet& data, FILE* out) {
  int result = DeleteFormat(request, data);
  int error = errno;
  switch (result) {
    case kOpDone: return 0;
    case kOpNotFound: Print(out, std::string("Not found '") + request.name + "'\n"); return 0;
    case kOpOpenFailed: return ReportError(out, error);
    default: return kExitFailure;  // the spooler-side tool has spoken
  }
}

int Add(const FormatRequest& request, DataSet& data, FILE* out) {
  int result = AddFormat(request, data);
  int error = errno;
  if (result == kOpOpenFailed) return ReportError(out, error);
  if (result == kOpSpoolerFailed) return kExitFailure;
  return 0;
}

int List(const DataSet& data, FILE* out) {
  return ListFormats(data, out) == 0 ? 0 : ReportError(out, errno);
}

int RunToolOrThrow(int argc, const char* const* argv, const std::string& root, FILE* out) {
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
  DataSet data(base, parsed.request.model);
  const bool list = parsed.command == Command::kList;
  std::string message;
  if (int error = data.Open(list ? DataSet::Access::kRead : DataSet::Access::kChange, &message);
      error != 0) {
    if (message.empty()) return ReportError(out, error);
    Print(out, message + "\n");
    return kExitFailure;
  }
  if (list) return List(data, out);
  if (parsed.command == Command::kDelete) return Delete(parsed.request, data, out);
  return Add(parsed.request, data, out);
}

}  // namespace

int RunTool(int argc, const char* const* argv, const std::string& root, FILE* out) {
  try {
    return RunToolOrThrow(argc, argv, root, out);
  } catch (const std::bad_alloc&) {
    // Staged copies are gone with the data set: nothing has changed.
    return ReportError(out, ENOMEM);
  }
}
