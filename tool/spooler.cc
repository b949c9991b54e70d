#include "tool/spooler.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

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
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.,:+@%/-";
  if (!text.empty() && text.find_first_not_of(kPlain) == std::string::npos) return text;
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\"'\"'";
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

namespace {

// What a shell reads from the environment to change how it parses or runs
// a command line; "BASH_FUNC_" starts the names of exported functions.
constexpr const char* kSteering[] = {
    "SHELLOPTS", "BASHOPTS", "ENV", "BASH_ENV", "IFS", "CDPATH", "PS4", "GLOBIGNORE",
    "POSIXLY_CORRECT", "BASH_XTRACEFD", "BASH_COMPAT", "BASH_LOADABLES_PATH", "EXECIGNORE",
    "FIGNORE", "HISTFILE", "HOSTFILE", "INPUTRC", "MAIL", "MAILCHECK", "MAILPATH", "OPTIND",
    "OPTERR", "PROMPT_COMMAND", "PS1", "PS2", "PS3", "TMOUT", "FPATH", "FCEDIT", "PATH"};

bool Steers(std::string_view name) {
  if (name.substr(0, 10) == "BASH_FUNC_") return true;
  for (const char* steering : kSteering) {
    if (name == steering) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> ShellEnvironment(const char* const* environment) {
  std::vector<std::string> out;
  for (const char* const* entry = environment; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos || Steers(text.substr(0, equals))) continue;
    out.emplace_back(text);
  }
  out.emplace_back(kShellPath);
  return out;
}

Status RunSpoolerTool(const std::string& command, const char* shell) {
  // The spooler-side tool shares our standard output; keep the order.
  fflush(stdout);
  const std::vector<std::string> env = ShellEnvironment(environ);
  std::vector<char*> envp;
  for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                  const_cast<char*>(command.c_str()), nullptr};

  // As system() does: the shell's status is ours to wait for, and an
  // interrupt from the terminal goes to the shell, not to us.
  struct sigaction ignore {}, old_int{}, old_quit{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGINT, &ignore, &old_int);
  sigaction(SIGQUIT, &ignore, &old_quit);
  sigset_t child, old_mask;
  sigemptyset(&child);
  sigaddset(&child, SIGCHLD);
  sigprocmask(SIG_BLOCK, &child, &old_mask);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &old_mask);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  int error = posix_spawn(&pid, shell, nullptr, &attr, argv, envp.data());
  posix_spawnattr_destroy(&attr);
  int status = 0;
  if (error == 0) {
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) {
        error = errno;
        break;
      }
    }
  }

  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGQUIT, &old_quit, nullptr);
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  if (error != 0) return Status::Error(error);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Status() : Status::SpoolerFailed();
}
