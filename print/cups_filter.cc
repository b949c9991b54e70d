#include "print/cups_filter.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "print/cups_options.h"
#include "print/job_options.h"
#include "print/print_job.h"
#include "print/run_limited.h"
#include "tool/layout.h"

namespace {

constexpr size_t kPpdLimit = 1024 * 1024;
constexpr uint64_t kMaxCopies = 9999;  // CUPS's own default MaxCopies
constexpr char kModelKeyword[] = "*KestrelModel:";
constexpr int kAwaitReaderMs = 5000;

// The PPD's first kPpdLimit bytes; false with errno set if it is no
// regular file or cannot be read.
bool ReadHead(const std::string& path, std::string* text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    errno = EINVAL;
    ok = false;
  }
  text->assign(kPpdLimit, '\0');
  size_t done = 0;
  while (ok && done < text->size()) {
    const ssize_t n = read(fd, text->data() + done, text->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const int saved = errno;
  close(fd);
  errno = saved;
  text->resize(done);
  return ok;
}

}  // namespace

void AwaitReader(int fd, int max_ms) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return;
  for (int waited = 0; waited < max_ms; waited += 5) {
    int unread = 0;
    if (ioctl(fd, FIONREAD, &unread) != 0 || unread == 0) return;
    const struct timespec pause = {0, 5 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

bool ModelOfPpd(const std::string& ppd, std::string* model, std::string* error) {
  std::string text;
  if (!ReadHead(ppd, &text)) {
    *error = "cannot read the queue's PPD " + ppd + ": " + strerror(errno);
    return false;
  }
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    if (line.rfind(kModelKeyword, 0) != 0) continue;
    std::string_view value = line.substr(sizeof(kModelKeyword) - 1);
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    if (value.size() >= 2 && value.front() == '"' && value.find('"', 1) != std::string_view::npos) {
      value = value.substr(1, value.find('"', 1) - 1);
      for (const ModelRow& row : kModels) {
        if (value == row.model) {
          *model = row.model;
          return true;
        }
      }
    }
    *error = ppd + ": *KestrelModel is no LX printer model this filter knows: " + std::string(line);
    return false;
  }
  *error = ppd + " is no LX printer's PPD (it has no *KestrelModel line): make the queue with "
                 "lpadmin -P /usr/share/ppd/kestrel/<model>.ppd";
  return false;
}

std::string GhostscriptPath(const std::string& path, const std::string& server_bin) {
  std::string kept;
  for (size_t pos = 0; pos <= path.size();) {
    size_t end = path.find(':', pos);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(pos, end - pos);
    pos = end + 1;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.empty() || dir == server_bin + "/filter" || dir == "/usr/lib/cups/filter") continue;
    if (!kept.empty()) kept += ':';
    kept += dir;
  }
  return kept;
}

int RunCupsFilter(int argc, const char* const* argv, const std::string& root,
                  const CupsEnvironment& env, int in, int out, FILE* err) {
  auto fail = [&](const std::string& why) {
    fprintf(err, "ERROR: %s\n", why.c_str());
    fflush(err);
    // cupsd makes the reason the job's state message only if it reads the
    // line before it sees the filter exit; otherwise the job says "Filter
    // failed". So the filter leaves once the line has left the pipe.
    AwaitReader(fileno(err), kAwaitReaderMs);
    return 1;
  };
  if (argc < 6 || argc > 7) {
    fprintf(err, "Usage: %s job-id user title copies options [file]\n",
            argc > 0 ? argv[0] : "kestrel-lx");
    fflush(err);
    return 1;
  }
  CatchRemoval();
  if (env.ppd == nullptr || *env.ppd == '\0') {
    return fail("the queue has no PPD: make it with lpadmin -P /usr/share/ppd/kestrel/<model>.ppd");
  }
  PrintSettings settings;
  std::string error;
  if (!ModelOfPpd(env.ppd, &settings.model, &error)) return fail(error);
  const std::optional<uint64_t> copies = PrintcapNumber(argv[4]);
  if (!copies || *copies > kMaxCopies) {
    return fail(std::string("copies: ") + argv[4] + " is no number of copies (1 to 9999)");
  }
  CupsJob job;
  if (!ReadCupsJob(ParseCupsOptions(argv[5]), &job, &error)) return fail(error);

  int job_fd = in;
  if (argc == 7) {
    job_fd = open(argv[6], O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (job_fd < 0) return fail(std::string("cannot read the job ") + argv[6] + ": " + strerror(errno));
  }
  settings.root = root;
  if (!settings.root.empty() && settings.root.back() != '/') settings.root += '/';
  settings.medium = job.medium;
  settings.limits = job.limits;
  settings.copies = static_cast<int>(*copies);
  settings.temp_dir = env.temp_dir != nullptr && *env.temp_dir != '\0' ? env.temp_dir : "/tmp";
  settings.ghostscript = "gs";
  settings.path = GhostscriptPath(env.path != nullptr && *env.path != '\0' ? env.path : "/usr/bin:/bin",
                                  env.server_bin != nullptr ? env.server_bin : "/usr/lib/cups");
  std::string reason;
  const bool printed = PrintJob(settings, job_fd, out, &reason);
  if (job_fd != in) close(job_fd);
  return printed ? 0 : fail(reason);
}
