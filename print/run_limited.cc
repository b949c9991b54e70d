#include "print/run_limited.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

namespace {

// Set by the handlers; the pipe wakes the wait below.
volatile sig_atomic_t removed = 0;
int wake_pipe[2] = {-1, -1};
constexpr int kRemovalSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

void Wake() {
  if (wake_pipe[1] >= 0) {
    const int saved = errno;
    const char byte = 0;
    (void)!write(wake_pipe[1], &byte, 1);
    errno = saved;
  }
}

void OnRemoval(int) {
  removed = 1;
  Wake();
}
void OnChild(int) { Wake(); }

bool MakeWakePipe() {
  if (wake_pipe[0] >= 0) return true;
  return pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) == 0;
}

void Handle(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked write to the printer ends too
  sigaction(signal, &action, nullptr);
}

rlim_t Lowered(int resource, rlim_t wanted) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_max == RLIM_INFINITY) return wanted;
  return std::min(wanted, limit.rlim_max);
}

// In the child, after fork: async-signal-safe calls only.
void SetLimit(int resource, rlim_t soft, rlim_t hard) {
  rlimit current{};
  if (getrlimit(resource, &current) != 0) return;
  if (current.rlim_max != RLIM_INFINITY) hard = std::min(hard, current.rlim_max);
  const rlimit limit{std::min(soft, hard), hard};
  setrlimit(resource, &limit);
}

void Kill(pid_t pid, int* status) {
  kill(pid, SIGKILL);
  while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
  }
}

uint64_t FilesUnder(int dir_fd, int depth) {
  DIR* dir = fdopendir(dir_fd);
  if (dir == nullptr) {
    close(dir_fd);
    return 0;
  }
  uint64_t bytes = 0;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    bytes += static_cast<uint64_t>(st.st_blocks) * 512;
    if (S_ISDIR(st.st_mode) && depth > 0) {
      const int sub = openat(dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) bytes += FilesUnder(sub, depth - 1);
    }
  }
  closedir(dir);
  return bytes;
}

// Watches |dir| and its directories for what grows files, as far as
// inotify allows; -1 if it does not.
int WatchGrowth(const std::string& dir) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return -1;
  const uint32_t events = IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_CLOSE_WRITE;
  inotify_add_watch(fd, dir.c_str(), events);
  if (DIR* listing = opendir(dir.c_str())) {
    while (dirent* entry = readdir(listing)) {
      const std::string name = entry->d_name;
      if (name == "." || name == ".." || entry->d_type != DT_DIR) continue;
      inotify_add_watch(fd, (dir + "/" + name).c_str(), events);
    }
    closedir(listing);
  }
  return fd;
}

void Drain(int fd) {
  char buffer[4096];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

RunLimits EffectiveLimits(const RunLimits& wanted) {
  RunLimits limits = wanted;
  // SIGXCPU at the soft limit ends the run; the hard one a second later is
  // a backstop. Under a tighter hard limit, the soft one a second before it.
  rlimit cpu{};
  if (getrlimit(RLIMIT_CPU, &cpu) == 0 && cpu.rlim_max != RLIM_INFINITY &&
      cpu.rlim_max < wanted.cpu_seconds + 1) {
    limits.cpu_seconds = cpu.rlim_max > 1 ? cpu.rlim_max - 1 : cpu.rlim_max;
  }
  limits.file_bytes = Lowered(RLIMIT_FSIZE, wanted.file_bytes);
  limits.address_bytes = Lowered(RLIMIT_AS, wanted.address_bytes);
  return limits;
}

void CatchRemoval() {
  MakeWakePipe();
  for (int signal : kRemovalSignals) Handle(signal, OnRemoval);
  signal(SIGPIPE, SIG_IGN);  // a printer that goes away is an error to report, not an end
}

bool JobRemoved() { return removed != 0; }

uint64_t DiskUse(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return fd < 0 ? 0 : FilesUnder(fd, 1);
}

Status RunLimited(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& env, int in, int log,
                  const RunLimits& wanted, const std::string& watched, RunResult* result) {
  *result = {};
  if (!MakeWakePipe()) return Status::FromErrno();
  const RunLimits limits = EffectiveLimits(wanted);
  std::vector<char*> argv, envp;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  Handle(SIGCHLD, OnChild);
  const int watch = WatchGrowth(watched);

  const pid_t pid = fork();
  if (pid < 0) {
    const Status failed = Status::FromErrno();
    if (watch >= 0) close(watch);
    return failed;
  }
  if (pid == 0) {
    for (int signal : kRemovalSignals) ::signal(signal, SIG_DFL);
    ::signal(SIGCHLD, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    SetLimit(RLIMIT_CPU, limits.cpu_seconds, limits.cpu_seconds + 1);
    SetLimit(RLIMIT_FSIZE, limits.file_bytes, limits.file_bytes);
    SetLimit(RLIMIT_AS, limits.address_bytes, limits.address_bytes);
    SetLimit(RLIMIT_CORE, 0, 0);
    if (dup2(in, 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }

  int status = 0;
  bool done = false;
  while (!done) {
    pollfd fds[2] = {{wake_pipe[0], POLLIN, 0}, {watch, POLLIN, 0}};
    const int ready = poll(fds, watch >= 0 ? 2 : 1, 250);
    if (ready < 0 && errno != EINTR) {
      const Status failed = Status::FromErrno();
      Kill(pid, &status);
      if (watch >= 0) close(watch);
      return failed;
    }
    Drain(wake_pipe[0]);
    if (watch >= 0) Drain(watch);
    if (removed) {
      Kill(pid, &status);
      result->end = RunEnd::kRemoved;
      break;
    }
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended < 0 && errno != EINTR) {
      const Status failed = Status::FromErrno();
      Kill(pid, &status);
      if (watch >= 0) close(watch);
      return failed;
    }
    done = ended == pid;
    // Also once it has ended: what it left counts.
    if (limits.disk_bytes > 0 && DiskUse(watched) > limits.disk_bytes) {
      if (!done) Kill(pid, &status);
      result->end = RunEnd::kDiskLimit;
      break;
    }
    if (done) {
      if (WIFEXITED(status)) {
        result->end = RunEnd::kExited;
        result->status = WEXITSTATUS(status);
      } else {
        result->end = RunEnd::kSignalled;
        result->signal = WTERMSIG(status);
      }
    }
  }
  if (watch >= 0) close(watch);
  return {};
}
