#ifndef TOOL_SPOOLER_H_
#define TOOL_SPOOLER_H_

#include <cstdint>
#include <string>

// Command lines for the driver's spooler-side tool, run through the shell.
// Names and queues of ordinary characters appear exactly as given; others
// are guarded so that the tool receives them verbatim and nothing else runs.

// Guards |text| for use inside double quotes: a backslash before each
// '"', '$', '`' and '\'.
std::string QuoteInDoubleQuotes(const std::string& text);

// Guards a word: unchanged if made only of letters, digits and
// "_.,:+@%=/-", otherwise put in single quotes ("'" written as '\'').
std::string QuoteWord(const std::string& text);

std::string DeleteCommand(const std::string& tool_path, const char* queue, const char* name);

std::string AddCommand(const std::string& tool_path, const char* queue, const char* name,
                       int32_t width, int32_t height, const std::string& format_id);

// Runs |command| through the shell. True if it exited with status 0.
bool RunSpoolerTool(const std::string& command);

#endif  // TOOL_SPOOLER_H_
