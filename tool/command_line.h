#ifndef TOOL_COMMAND_LINE_H_
#define TOOL_COMMAND_LINE_H_

#include <string>

#include "tool/format_request.h"
#include "tool/layout.h"

enum class Command { kInvalidModel, kUsage, kDelete, kAdd, kList, kMedium };

struct ParsedCommandLine {
  Command command = Command::kUsage;
  FormatRequest request{};
  std::string medium;  // kMedium: what the print job asks for, maybe empty
  std::string refused;  // kUsage: what was wrong, the option or value named
};

// Reads the command line into a request and tells which command it forms.
// "-l" as the only argument lists the model's formats; "-m" and a value as
// the only arguments ask which medium that value selects.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage text, the same for every model and invocation name.
std::string UsageText();

#endif  // TOOL_COMMAND_LINE_H_
