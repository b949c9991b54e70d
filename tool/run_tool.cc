#include "tool/run_tool.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "lineio/write_all.h"
#include "tool/command_line.h"
#include "tool/data_set.h"
#include "tool/find_medium.h"
#include "tool/format_text.h"
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

// For a reader, a data set that is not there is most often a driver that
// is not installed: the message names the first path missing on the way
// to the func list, and what provides it.
int ReportReadError(FILE* out, int error, const std::string& message, const std::string& base,
                    const char* model) {
  if (error == ENOENT) {
    const std::string inf = DataDirPath(base, model);
    for (const std::string& path : {base, ModelPath(base, model), inf,
                                     inf + "/" + DataFileName(model, DataFile::kFuncList)}) {
      struct stat st;
      if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
        Print(out, path + ": " + strerror(ENOENT) + " (the printer driver for " + model +
                       " provides it: install the driver first)\n");
        return kExitFailure;
      }
    }
  }
  if (message.empty()) return ReportError(out, error);
  Print(out, message + "\n");
  return kExitFailure;
}

// The program's own name, for the messages that point to its listing.
std::string ProgramName(const char* argv0) {
  const char* slash = strrchr(argv0, '/');
  return slash != nullptr ? slash + 1 : argv0;
}

// One line, as the listing writes a format, or nothing when no medium is
// asked for and the model names none.
int Medium(const DataSet& data, const std::string& value, const std::string& program,
           const std::string& base, FILE* out) {
  ::Medium medium;
  const MediumAnswer answer = FindMedium(data, value, &medium);
  const std::string name = Printable(medium.name);
  switch (answer) {
    case MediumAnswer::kFound:
      Print(out, name + "\t" + medium.size + "\t" + Printable(medium.id) + "\t" + medium.state +
                     "\n");
      return 0;
    case MediumAnswer::kNoDefault: return 0;
    case MediumAnswer::kUnknown:
      Print(out, "unknown medium: " + name + " (see " + program + " -l)\n");
      break;
    case MediumAnswer::kSeveral:
      Print(out, "medium " + name + " matches several formats: name one by its identifier (see " +
                     program + " -l)\n");
      break;
    case MediumAnswer::kNoArea: Print(out, "medium " + name + " has no area\n"); break;
    case MediumAnswer::kFailed: return ReportReadError(out, errno, "", base, data.model().c_str());
  }
  return kExitFailure;
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
    case Command::kMedium:
      break;
  }
  std::string base = root;
  if (!base.empty() && base.back() != '/') base += '/';
  DataSet data(base, parsed.request.model);
  const bool read = parsed.command == Command::kList || parsed.command == Command::kMedium;
  std::string message;
  if (int error = data.Open(read ? DataSet::Access::kRead : DataSet::Access::kChange, &message);
      error != 0) {
    if (read) return ReportReadError(out, error, message, base, parsed.request.model);
    if (message.empty()) return ReportError(out, error);
    Print(out, message + "\n");
    return kExitFailure;
  }
  if (parsed.command == Command::kList) {
    // One write for many lines of a large listing.
    setvbuf(out, nullptr, _IOFBF, 64 * 1024);
    if (ListFormats(data, out) == 0) return 0;
    return ReportReadError(out, errno, "", base, parsed.request.model);
  }
  if (parsed.command == Command::kMedium) {
    return Medium(data, parsed.medium, ProgramName(argv[0]), base, out);
  }
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
