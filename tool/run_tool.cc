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

// A failure's line: the path it concerns, where there is one, and why.
int ReportError(FILE* out, const Status& status) {
  Print(out, status.Message() + "\n");
  return kExitFailure;
}

int Delete(const FormatRequest& request, DataSet& data, FILE* out) {
  const Status deleted = DeleteFormat(request, data);
  switch (deleted.kind()) {
    case Status::Kind::kOk: return 0;
    case Status::Kind::kNotFound:
      Print(out, std::string("Not found '") + request.name + "'\n");
      return 0;
    case Status::Kind::kError: return ReportError(out, deleted);
    case Status::Kind::kSpoolerFailed: break;  // the spooler-side tool has spoken
  }
  return kExitFailure;
}

int Add(const FormatRequest& request, DataSet& data, FILE* out) {
  const Status added = AddFormat(request, data);
  if (added.kind() == Status::Kind::kError) return ReportError(out, added);
  if (added.kind() == Status::Kind::kSpoolerFailed) return kExitFailure;
  return 0;
}

// For a reader, a data set that is not there is most often a driver that
// is not installed: the message names the first path missing on the way
// to the func list, and what provides it.
int ReportReadError(FILE* out, const Status& status, const std::string& base, const char* model) {
  if (status.error() == ENOENT) {
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
  return ReportError(out, status);
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
  Status status;
  const MediumAnswer answer = FindMedium(data, value, &medium, &status);
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
    case MediumAnswer::kFailed: return ReportReadError(out, status, base, data.model().c_str());
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
  const Status opened = data.Open(read ? DataSet::Access::kRead : DataSet::Access::kChange);
  for (const std::string& warning : data.warnings()) {
    fprintf(stderr, "%s: %s\n", ProgramName(argv[0]).c_str(), warning.c_str());
  }
  if (!opened.ok()) {
    if (read) return ReportReadError(out, opened, base, parsed.request.model);
    return ReportError(out, opened);
  }
  if (parsed.command == Command::kList) {
    const Status listed = ListFormats(data, out);
    if (listed.ok()) return 0;
    return ReportReadError(out, listed, base, parsed.request.model);
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
    return ReportError(out, Status::Error(ENOMEM));
  }
}
