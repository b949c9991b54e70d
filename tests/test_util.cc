#include "tests/test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

const char kSampleFunc[] =
    "# media of the LX-230\n"
    "[Tape]\n"
    "DK29x90\n"
    "DK62x100\n"
    "[CustomTape]\n"
    "KsL053E0643ABCD/Small\n"
    "[End]\n";
const char kSamplePaper[] =
    "DK29x90:\t306\t990\n"
    "DK62x100:\t695\t1108\n"
    "KsL053E0643ABCD/Small:\t695\t1108\n";
const char kSampleRc[] =
    "Copies=1\n"
    "MediaSize=KsL053E0643ABCD\n"
    "Halftone=Binary\n";
const char kSampleArea[] =
    "DK29x90\t:\t4.32\t8.40\t77.76\t246.33\n"
    "KsL053E0643ABCD\t:\t4.32\t8.40\t171.16\t274.63\n";

namespace {

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    for (const std::string& name : ListDir(path)) RemoveTree(path + "/" + name);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

void MakeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
  }
}

std::string ReadFd(int fd) {
  std::string out;
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace

FormatRequest TestRequest(const char* name, int32_t width, int32_t height) {
  FormatRequest request{};
  strcpy(request.model, "lx230");
  strcpy(request.queue, "LX-230");
  strcpy(request.name, name);
  request.width = width;
  request.height = height;
  return request;
}

namespace {
std::vector<std::pair<int64_t, long>> queued_times = {{0, 0}};
size_t next_time = 0;
}  // namespace

void QueueTimes(std::vector<std::pair<int64_t, long>> times) {
  queued_times = std::move(times);
  next_time = 0;
}

Status QueuedTime(int64_t* seconds, long* microseconds) {
  const auto& [s, us] = queued_times[std::min(next_time++, queued_times.size() - 1)];
  *seconds = s;
  *microseconds = us;
  return {};
}

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/kstest.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  chmod(path.c_str(), mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

mode_t PermissionBits(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* entry = readdir(d)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

TestData::TestData(const std::string& root_dir, const std::string& model_name)
    : root(root_dir.back() == '/' ? root_dir : root_dir + "/"), model(model_name) {
  MakeDirs(inf());
  MakeDirs(lpd());
  std::string standin = lpd() + "kstapefmtcups";
  WriteFile(standin, ReadFile(KS_STANDIN_PATH), 0755);
}

void TestData::WriteSample() {
  WriteFile(func(), kSampleFunc);
  WriteFile(paper(), kSamplePaper);
  WriteFile(rc(), kSampleRc);
  WriteFile(area(), kSampleArea);
}

void TestData::RecordSpoolerCalls() { WriteFile(spooler_log(), "", 0666); }

void TestData::FailSpooler(int status) {
  WriteFile(lpd() + "kstapefmtcups.exit", std::to_string(status) + "\n");
}

void TestData::FailSpoolerAdds(int status) {
  WriteFile(lpd() + "kstapefmtcups.exit-add", std::to_string(status) + "\n");
}

std::vector<std::vector<std::string>> TestData::SpoolerCalls() const {
  std::vector<std::vector<std::string>> calls;
  std::string log = ReadFile(spooler_log());
  size_t pos = 0;
  while (pos < log.size()) {
    size_t eol = log.find('\n', pos);
    if (eol == std::string::npos) break;
    int count = std::stoi(log.substr(pos, eol - pos));
    pos = eol + 1;
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
      size_t end = log.find('\0', pos);
      if (end == std::string::npos) throw std::runtime_error("truncated spooler log");
      args.push_back(log.substr(pos, end - pos));
      pos = end + 1;
    }
    calls.push_back(args);
  }
  return calls;
}

std::vector<std::string> TestData::Snapshot() const {
  return {ReadFile(func()), ReadFile(paper()), ReadFile(rc()), ReadFile(area())};
}

namespace {

// A copy of |binary| that any user may run: the build may lie in a
// directory only root may enter (a clone in a mode-0700 directory), and a
// test that runs a program as another user must still reach it. One copy a
// binary, in a directory of this process's under /tmp, removed at exit.
std::string ReachableCopy(const std::string& binary) {
  static std::string shared;
  static std::map<std::string, std::string> copies;
  static struct Remover {
    ~Remover() {
      for (const auto& entry : copies) unlink(entry.second.c_str());
      if (!shared.empty()) rmdir(shared.c_str());
    }
  } remover;
  if (shared.empty()) {
    char pattern[] = "/tmp/kstest-bin.XXXXXX";
    if (mkdtemp(pattern) == nullptr || chmod(pattern, 0755) != 0) {
      throw std::runtime_error("cannot make a directory for copies of the programs");
    }
    shared = pattern;
  }
  auto found = copies.find(binary);
  if (found != copies.end()) return found->second;
  const std::string copy = shared + "/" + std::to_string(copies.size());
  WriteFile(copy, ReadFile(binary), 0755);
  if (chmod(copy.c_str(), 0755) != 0) throw std::runtime_error("cannot chmod " + copy);
  return copies.emplace(binary, copy).first->second;
}

}  // namespace

RunResult RunProgram(const std::string& given, const std::vector<std::string>& argv,
                     const RunOptions& options) {
  const std::string binary =
      options.run_as != 0 && geteuid() == 0 ? ReachableCopy(given) : given;
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    if (options.run_as != 0 && geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(options.run_as) != 0 ||
          setuid(options.run_as) != 0) {
        _exit(124);
      }
    }
    if (options.without_root_overrides && geteuid() == 0) {
      // Out of the bounding set, they are not given back by the exec (root
      // otherwise gets every capability there is).
      for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) _exit(125);
      }
    }
    if (options.file_size_limit >= 0) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = static_cast<rlim_t>(options.file_size_limit);
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.address_space_limit >= 0) {
      const rlim_t bytes = static_cast<rlim_t>(options.address_space_limit);
      rlimit limit{bytes, bytes};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.ignore_sigchld) signal(SIGCHLD, SIG_IGN);
    alarm(options.timeout_seconds);
    for (const std::string& entry : options.env) putenv(const_cast<char*>(entry.c_str()));
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(binary.c_str(), args.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  RunResult result;
  // Small outputs only: read one pipe, then the other.
  result.out = ReadFd(out_pipe[0]);
  result.err = ReadFd(err_pipe[0]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.max_rss_kb = usage.ru_maxrss;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool LimitAddressSpaceToCurrentPlus(size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
  (void)bytes;
  return false;
#else
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0;
  if (!(statm >> pages)) return false;
  const rlimit limit{static_cast<rlim_t>(pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) + bytes),
                     RLIM_INFINITY};
  return setrlimit(RLIMIT_AS, &limit) == 0;
#endif
}
