#include "print/print_job.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "lineio/string_printf.h"
#include "print/job_file.h"
#include "print/plan.h"
#include "print/run_limited.h"
#include "print/send.h"
#include "tool/data_set.h"
#include "tool/find_medium.h"
#include "tool/format_text.h"

extern char** environ;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// Removes |name| in |dir_fd| and, for a directory, what it holds.
void RemoveTree(int dir_fd, const char* name) {
  const int fd = openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    if (DIR* dir = fdopendir(fd)) {
      std::vector<std::string> names;
      while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
          names.push_back(entry->d_name);
        }
      }
      for (const std::string& inner : names) RemoveTree(dirfd(dir), inner.c_str());
      closedir(dir);
    } else {
      close(fd);
    }
    unlinkat(dir_fd, name, AT_REMOVEDIR);
    return;
  }
  unlinkat(dir_fd, name, 0);
}

// The job's own directory, private to the filter's user: Ghostscript's
// temporary files and all it lets a job write besides its output stay in
// its tmp/, and it goes, with everything in it, when the job ends.
class Workspace {
 public:
  ~Workspace() {
    if (!path_.empty()) RemoveTree(AT_FDCWD, path_.c_str());
  }

  Status Make(const std::string& temp_dir) {
    std::string pattern = temp_dir + "/lx-filter.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return Status::FromErrno(temp_dir);
    path_ = pattern;
    if (mkdir((path_ + "/tmp").c_str(), 0700) != 0) return Status::FromErrno(path_ + "/tmp");
    return {};
  }

  const std::string& path() const { return path_; }
  std::string operator/(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// |name| itself if it holds a slash, else the first executable of that
// name in |path|'s directories; empty if there is none.
std::string FindProgram(const std::string& name, const std::string& path) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
  for (size_t pos = 0; pos <= path.size();) {
    size_t end = path.find(':', pos);
    if (end == std::string::npos) end = path.size();
    const std::string dir = path.substr(pos, end - pos);
    pos = end + 1;
    if (dir.empty()) continue;  // never the working directory
    const std::string candidate = dir + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

// Ghostscript's environment: the filter's, less what would steer it, with
// the job's directory as every temporary directory: without one of its
// own, -dSAFER still lets a job use all of /tmp.
std::vector<std::string> GhostscriptEnvironment(const std::string& tmp) {
  static const char* const kDropped[] = {"GS_OPTIONS", "GS_LIB", "GS_FONTPATH", "GS_DEVICE",
                                         "TMPDIR", "TEMP", "TMP"};
  std::vector<std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    const std::string_view name = text.substr(0, text.find('='));
    bool dropped = false;
    for (const char* drop : kDropped) dropped = dropped || name == drop;
    if (!dropped) env.emplace_back(text);
  }
  for (const char* name : {"TMPDIR", "TEMP", "TMP"}) env.push_back(std::string(name) + "=" + tmp);
  return env;
}

// "<W>x<H>" in millimetres, as FindMedium gives a size.
bool ParseSize(const std::string& size, MediumSize* out) {
  const size_t x = size.find('x');
  if (x == std::string::npos) return false;
  char* end;
  out->width_mm = strtod(size.c_str(), &end);
  if (end != size.c_str() + x) return false;
  out->height_mm = strtod(size.c_str() + x + 1, &end);
  return *end == '\0' && out->width_mm > 0 && out->height_mm > 0;
}

// Copies a job that comes from a pipe to |to|, no further than |limit|
// bytes. False, with *reason, if it cannot or the job is larger.
bool CopyJob(int in, int to, uint64_t limit, std::string* reason) {
  std::vector<char> buffer(64 * 1024);
  for (uint64_t total = 0;;) {
    if (JobRemoved()) {
      *reason = "the job was removed";
      return false;
    }
    const ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *reason = std::string("cannot read the job: ") + strerror(errno);
      return false;
    }
    if (n == 0) return true;
    total += static_cast<uint64_t>(n);
    if (total > limit) {
      *reason = StringPrintf("the job went over its disk limit of %llu MiB (ks_disk_limit)",
                             static_cast<unsigned long long>(limit / kMiB));
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t written = write(to, buffer.data() + done, static_cast<size_t>(n - done));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        *reason = std::string("cannot keep the job: ") + strerror(errno);
        return false;
      }
      done += written;
    }
  }
}

// The first and the last 64 KiB of the log: what Ghostscript said first,
// and the marker it prints last.
std::string ReadLog(const std::string& path) {
  constexpr size_t kPart = 64 * 1024;
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0) return {};
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  std::string log;
  auto read_at = [&](uint64_t offset, size_t count) {
    std::string part(count, '\0');
    const ssize_t n = pread(fd.get(), part.data(), count, static_cast<off_t>(offset));
    part.resize(n > 0 ? static_cast<size_t>(n) : 0);
    log += part;
  };
  read_at(0, static_cast<size_t>(std::min<uint64_t>(size, kPart)));
  if (size > kPart) read_at(std::max<uint64_t>(size - kPart, kPart), kPart);
  return log;
}

// The first line of |log| that holds |needle|, without blanks around it;
// or its first line that is not blank, if |needle| is empty.
std::string FirstLine(const std::string& log, std::string_view needle) {
  for (size_t pos = 0; pos < log.size();) {
    size_t end = log.find('\n', pos);
    if (end == std::string::npos) end = log.size();
    std::string_view line(log.data() + pos, end - pos);
    pos = end + 1;
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string_view::npos) continue;
    line = line.substr(start, line.find_last_not_of(" \t\r") + 1 - start);
    if (needle.empty() || line.find(needle) != std::string_view::npos) return std::string(line);
  }
  return {};
}

}  // namespace

std::string GhostscriptProblem(const std::string& log, bool exited_zero, bool pdf) {
  if (log.find(kNoPageMarker) != std::string::npos) {
    if (pdf && log.find("**** Error") != std::string::npos) {
      std::string error = FirstLine(log, "**** Error");
      const size_t colon = error.find("Error:");
      if (colon != std::string::npos) error = error.substr(error.find_first_not_of(' ', colon + 6));
      return "Ghostscript could not read the PDF: " + error;
    }
    return "the job draws no page";
  }
  if (log.find("Page drawing error") != std::string::npos) {
    return "Ghostscript could not draw a page of the job (" +
           FirstLine(log, "Page drawing error").substr(std::string_view("**** Error: ").size()) + ")";
  }
  if (!exited_zero) return "Ghostscript could not read the job: " + FirstLine(log, "");
  return {};
}

bool PrintJob(const PrintSettings& settings, int in, int out, std::string* reason) {
  auto fail = [&](std::string why) {
    *reason = std::move(why);
    return false;
  };
  const JobLimits& limits = settings.limits;

  // The medium, from the data set as the last change committed it.
  std::optional<MediumSize> medium;
  {
    DataSet data(settings.root, settings.model.c_str());
    Status opened = data.Open(DataSet::Access::kRead);
    if (opened.ok()) opened = data.RequiredFiles();
    if (!opened.ok()) return fail(ReadFailureText(opened, settings.root, settings.model));
    Medium found;
    Status status;
    const MediumAnswer answer = FindMedium(data, settings.medium, &found, &status);
    if (answer == MediumAnswer::kFound) {
      if (found.state != "ok") {
        return fail("format " + Printable(found.name) + " is incomplete (" + found.state + ")");
      }
      MediumSize size;
      if (!ParseSize(found.size, &size)) return fail("medium " + Printable(found.name) + " has no area");
      medium = size;
    } else if (answer != MediumAnswer::kNoDefault) {
      return fail(MediumAnswerText(answer, found, status, settings.root, settings.model,
                                   "kstapefmtlpr_" + settings.model));
    }
  }

  Workspace work;
  if (Status made = work.Make(settings.temp_dir); !made.ok()) {
    return fail("cannot make the job's directory: " + made.Message());
  }

  // The job: read where it is if the spooler hands on a file, else copied.
  struct stat st;
  if (fstat(in, &st) != 0) return fail(std::string("cannot read the job: ") + strerror(errno));
  std::string input = "/dev/stdin";
  Fd copy, devnull;
  int job = in, ghostscript_in = in;
  if (!S_ISREG(st.st_mode)) {
    input = work / "input";
    copy.reset(open(input.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (copy.get() < 0) return fail("cannot keep the job: " + Status::FromErrno(input).Message());
    if (!CopyJob(in, copy.get(), limits.disk_mib * kMiB, reason)) return false;
    devnull.reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
    job = copy.get();
    ghostscript_in = devnull.get();
  }
  JobInfo info;
  if (Status read = ReadJobInfo(job, &info); !read.ok()) {
    return fail("cannot read the job: " + read.Message());
  }
  if (info.kind == JobKind::kOther) return fail("the job is neither PostScript nor PDF");

  PrintPlan plan;
  std::string error;
  if (!PlanJob(info, medium, settings.length, &plan, &error)) return fail(error);

  // One Ghostscript run, within the job's limits.
  const std::string program = FindProgram(settings.ghostscript, settings.path);
  if (program.empty()) {
    return fail(settings.ghostscript + ": No such program (the package ghostscript provides it)");
  }
  const std::string output = work / "out.ps", log_path = work / "log";
  Fd log(open(log_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (log.get() < 0) return fail("cannot keep Ghostscript's messages: " + Status::FromErrno(log_path).Message());
  std::vector<std::string> args = GhostscriptArguments(plan, input, output, kNoPageMarker);
  args.insert(args.begin(), program);
  const RunLimits wanted{limits.cpu_seconds, limits.output_mib * kMiB, limits.memory_mib * kMiB,
                         limits.disk_mib * kMiB};
  const RunLimits held = EffectiveLimits(wanted);
  RunResult result;
  if (Status ran = RunLimited(program, args, GhostscriptEnvironment(work / "tmp"), ghostscript_in,
                              log.get(), wanted, work.path(), &result);
      !ran.ok()) {
    return fail("cannot run " + program + ": " + ran.Message());
  }
  auto over = [&](const char* what, uint64_t figure, const char* unit, const char* option) {
    return fail(StringPrintf("the job went over its %s limit of %llu %s (%s)", what,
                             static_cast<unsigned long long>(figure), unit, option));
  };
  switch (result.end) {
    case RunEnd::kRemoved: return fail("the job was removed");
    case RunEnd::kDiskLimit: return over("disk", held.disk_bytes / kMiB, "MiB", "ks_disk_limit");
    case RunEnd::kSignalled:
      if (result.signal == SIGXCPU || result.signal == SIGKILL) {
        return over("time", held.cpu_seconds, "s", "ks_time_limit");
      }
      if (result.signal == SIGXFSZ) return over("output", held.file_bytes / kMiB, "MiB", "ks_output_limit");
      return fail(StringPrintf("Ghostscript ended on signal %d (%s)", result.signal,
                               strsignal(result.signal)));
    case RunEnd::kExited: break;
  }
  const std::string messages = ReadLog(log_path);
  if (result.status != 0 && messages.find("/VMerror") != std::string::npos) {
    return over("memory", held.address_bytes / kMiB, "MiB", "ks_memory_limit");
  }
  if (std::string problem = GhostscriptProblem(messages, result.status == 0, info.kind == JobKind::kPdf);
      !problem.empty()) {
    return fail(problem);
  }

  // What the printer gets, once for each copy: the whole document again,
  // so that copies of a job of several pages come out collated.
  Fd page;
  std::optional<Paper> paper;
  if (!plan.send_as_is) {
    page.reset(open(output.c_str(), O_RDONLY | O_CLOEXEC));
    if (page.get() < 0) return fail("cannot read the page Ghostscript made: " + Status::FromErrno(output).Message());
    if (plan.width && plan.height) paper = Paper{*plan.width, *plan.height};
  }
  Status sent;
  for (int copy = 0; copy < std::max(settings.copies, 1) && sent.ok(); ++copy) {
    sent = plan.send_as_is ? SendPostScript(job, out, std::nullopt)
                           : SendPostScript(page.get(), out, paper);
  }
  if (!sent.ok()) {
    if (JobRemoved()) return fail("the job was removed");
    return fail("cannot write to the printer: " + sent.Message());
  }
  return true;
}
