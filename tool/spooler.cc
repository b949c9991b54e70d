#include "tool/spooler.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lineio/string_printf.h"

std::string QuoteInDoubleQuotes(const std::string& text) {
  static const char kSpecial[] = "\"$`\\";
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t run = text.find_first_of(kSpecial, pos);
    if (run == std::string::npos) run = text.size();
    out.append(text, pos, run - pos);
    if (run == text.size()) break;
    size_t end = text.find_first_not_of(kSpecial, run);
    if (end == std::string::npos) end = text.size();
    out += "\"'";
    out.append(text, run, end - run);
    out += "'\"";
    pos = end;
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

int RunSpoolerTool(const std::string& command) {
  // The spooler-side tool shares our standard output; keep the order.
  fflush(stdout);
  int status = system(command.c_str());
  if (status == -1) return kOpOpenFailed;
  return status == 0 ? kOpDone : kOpSpoolerFailed;
}
