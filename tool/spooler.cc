#include "tool/spooler.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lineio/string_printf.h"

std::string QuoteInDoubleQuotes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '"' || c == '$' || c == '`' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string QuoteWord(const std::string& text) {
  static const char kPlain[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.,:+@%=/-";
  if (!text.empty() && text.find_first_not_of(kPlain) == std::string::npos) return text;
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  out += '\'';
  return out;
}

std::string DeleteCommand(const std::string& tool_path, const char* queue, const char* name) {
  return StringPrintf("%s   -P %s -d \"%s\" %s %d", QuoteWord(tool_path).c_str(),
                      QuoteWord(queue).c_str(), QuoteInDoubleQuotes(name).c_str(), "-show", 1);
}

std::string AddCommand(const std::string& tool_path, const char* queue, const char* name,
                       int32_t width, int32_t height, const std::string& format_id) {
  return StringPrintf("%s   -P %s -n \"%s\" -w %d -h %d %s %s %s %d",
                      QuoteWord(tool_path).c_str(), QuoteWord(queue).c_str(),
                      QuoteInDoubleQuotes(name).c_str(), width, height, "-specid",
                      format_id.c_str(), "-show", 1);
}

bool RunSpoolerTool(const std::string& command) {
  // The spooler-side tool shares our standard output; keep the order.
  fflush(stdout);
  return system(command.c_str()) == 0;
}
