#ifndef TOOL_SPOOLER_H_
#define TOOL_SPOOLER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tool/format_request.h"
#include "tool/status.h"

// Command lines for the driver's spooler-side tool, run through the shell.
// Names and queues of ordinary characters appear exactly as given; others
// are guarded so that the tool receives them verbatim and nothing else runs.

// Guards |text| for use between double quotes. Each run of '"', '$', '`'
// and '\' closes the double quotes, stands in single quotes and reopens
// them: a backslash inside double quotes is not safe, since in a multibyte
// locale (BIG5, GBK, GB18030, Shift_JIS) bash reads it as the second byte of
// the character before it. The only quoting bytes left, '"' and '\'', are no
// second byte in any of them. Text without those four characters is
// unchanged.
std::string QuoteInDoubleQuotes(const std::string& text);

// Guards a word: unchanged if made only of letters, digits and "_.,:+@%/-",
// otherwise put in single quotes, each "'" written as '"'"' (no backslash:
// see above). A word holding '=' is quoted too, so that no shell option can
// make an assignment of it.
std::string QuoteWord(const std::string& text);

std::string DeleteCommand(const std::string& tool_path, const char* queue, const char* name);

std::string AddCommand(const std::string& tool_path, const char* queue, const char* name,
                       int32_t width, int32_t height, const std::string& format_id);

// The environment the shell runs with: the caller's, less what steers a
// POSIX shell or bash (SHELLOPTS, BASHOPTS, ENV, BASH_ENV, IFS, CDPATH, PS4,
// GLOBIGNORE, exported functions, POSIXLY_CORRECT and their kin), and with
// a fixed PATH. Everything else, the locale among it, passes unchanged: the
// spooler-side tool may need its own settings.
std::vector<std::string> ShellEnvironment(const char* const* environment);

inline constexpr const char kShell[] = "/bin/sh";
inline constexpr const char kShellPath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

// Runs |command| through |shell| -c, as system() would but with
// ShellEnvironment: ok if it exited with status 0, SpoolerFailed for any
// other end, the error if the shell could not be started or waited for
// (that failure is ours).
Status RunSpoolerTool(const std::string& command, const char* shell = kShell);

#endif  // TOOL_SPOOLER_H_
