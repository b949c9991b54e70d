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

// A change refused for want of the rights to the data set: the path it
// concerns, and the way out.
int ReportChangeError(FILE* out, const Status& status) {
  std::string line = status.Message();
  if (geteuid() != 0 && (status.error() == EACCES || status.error() == EPERM)) {
    line += " (adding and deleting formats needs the rights to the data set: run it as root, "
            "with sudo)";
  }
  Print(out, line + "\n");
  return kExitFailure;
}

int Delete(const FormatRequest& request, DataSet& data, FILE* out) {
  const Status deleted = DeleteFormat(request, data);
  switch (deleted.kind()) {
    case Status::Kind::kOk: return 0;
    case Status::Kind::kNotFound:
      Print(out, std::string("Not found '") + request.name + "'\n");
      return 0;
    case Status::Kind::kError: return ReportChangeError(out, deleted);
    case Status::Kind::kSpoolerFailed: break;  // the spooler-side tool has spoken
  }
  return kExitFailure;
}

int Add(const FormatRequest& request, DataSet& data, FILE* out) {
  const Status added = AddFormat(request, data);
  if (added.kind() == Status::Kind::kError) return ReportChangeError(out, added);
  if (added.kind() == Status::Kind::kSpoolerFailed) return kExitFailure;
  return 0;
}

// For a reader, a data set that is not there is most often a driver that
// is not installed: the message names the first path missing on the way.
int ReportReadError(FILE* out, const Status& status, const std::string& base, const char* model) {
  Print(out, ReadFailureText(status, base, model) + "\n");
  return kExitFailure;
}

// The program's own name, for the messages that point to its listing.
std::string ProgramName(const char* argv0) {
  const char* slash = strrchr(argv0, '/');
  return slash != nullptr ? slash + 1 : argv0;
}

// One line, as the listing writes a format, or the one that says why there
// is none. No default named is no failure: the print job then takes its
// own page.
int Medium(const DataSet& data, const std::string& value, const std::string& program,
           const std::string& base, FILE* out) {
  ::Medium medium;
  Status status;
  const MediumAnswer answer = FindMedium(data, value, &medium, &status);
  if (answer == MediumAnswer::kFound) {
    Print(out, Printable(medium.name) + "\t" + medium.size + "\t" + Printable(medium.id) + "\t" +
                   medium.state + "\n");
    return 0;
  }
  Print(out, MediumAnswerText(answer, medium, status, base, data.model(), program) + "\n");
  return answer == MediumAnswer::kNoDefault ? 0 : kExitFailure;
}

int RunToolOrThrow(int argc, const char* const* argv, const std::string& root, FILE* out,
                   FILE* err) {
  // Inherited from a parent that ignores it, SIGCHLD set to SIG_IGN makes
  // the shell's child vanish unwaited, and the spooler-side tool's status
  // with it.
  signal(SIGCHLD, SIG_DFL);
  ParsedCommandLine parsed = ParseCommandLine(argc, argv);
  switch (parsed.command) {
    case Command::kInvalidModel:
      Print(out, std::string(argc > 0 ? argv[0] : "") + " is invalid.\n\n");
      return kExitFailure;
    case Command::kUsage:
      // The usage text as it is, then, for whoever reads the status, what
      // was wrong.
      Print(out, UsageText());
      fflush(out);
      Print(err, ProgramName(argc > 0 ? argv[0] : "") + ": " + parsed.refused + "\n");
      return kExitFailure;
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
  Status opened = data.Open(read ? DataSet::Access::kRead : DataSet::Access::kChange);
  if (opened.ok() && read) opened = data.RequiredFiles();
  for (const std::string& warning : data.warnings()) {
    Print(err, ProgramName(argv[0]) + ": " + warning + "\n");
  }
  if (!opened.ok()) {
    if (read) return ReportReadError(out, opened, base, parsed.request.model);
    return ReportChangeError(out, opened);
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

int RunTool(int argc, const char* const* argv, const std::string& root, FILE* out, FILE* err) {
  try {
    return RunToolOrThrow(argc, argv, root, out, err);
  } catch (const std::bad_alloc&) {
    // Staged copies are gone with the data set: nothing has changed.
    return ReportError(out, Status::Error(ENOMEM));
  }
}
