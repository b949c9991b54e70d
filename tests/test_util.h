#ifndef TESTS_TEST_UTIL_H_
#define TESTS_TEST_UTIL_H_

#include <sys/types.h>

#include <cstdint>

#include <string>
#include <utility>
#include <vector>

#include "tool/format_request.h"
#include "tool/status.h"

// A fresh directory under $TMPDIR (or /tmp), removed with all it holds.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
bool Exists(const std::string& path);
mode_t PermissionBits(const std::string& path);
// Names in |dir|, sorted.
std::vector<std::string> ListDir(const std::string& dir);

// A model's driver data set under a root: the four data files and the
// spooler-side stand-in.
struct TestData {
  TestData(const std::string& root, const std::string& model = "lx230");
  std::string root;   // ends with '/'
  std::string model;
  std::string inf() const { return root + model + "/inf/"; }
  std::string lpd() const { return root + model + "/lpd/"; }
  std::string func() const { return inf() + "ks" + model + "func"; }
  std::string paper() const { return inf() + "paperinf" + model + "pt1"; }
  std::string rc() const { return inf() + "ks" + model + "rc"; }
  std::string area() const { return inf() + "ImagingArea"; }
  std::string spooler_log() const { return lpd() + "kstapefmtcups.log"; }

  // Writes the sample content (or the given content) into the four files.
  void WriteSample();
  // Makes the stand-in record its calls / exit with |status|.
  void RecordSpoolerCalls();
  void FailSpooler(int status);
  void FailSpoolerAdds(int status);
  // Calls recorded by the stand-in, each its argument list.
  std::vector<std::vector<std::string>> SpoolerCalls() const;
  // Content of the four data files, in a fixed order.
  std::vector<std::string> Snapshot() const;
};

// A request for model lx230 and queue LX-230, as the command line makes it.
FormatRequest TestRequest(const char* name, int32_t width = 0, int32_t height = 0);

// A clock for the add: reads the times queued with QueueTimes in turn, then
// repeats the last one.
void QueueTimes(std::vector<std::pair<int64_t, long>> times);
Status QueuedTime(int64_t* seconds, long* microseconds);

// Sample content of the data files.
extern const char kSampleFunc[];
extern const char kSamplePaper[];
extern const char kSampleRc[];
extern const char kSampleArea[];

struct RunResult {
  int status = -1;        // exit status, or 128 + signal
  std::string out;        // standard output
  std::string err;        // standard error
  long max_rss_kb = 0;    // peak resident memory
};

struct RunOptions {
  std::string cwd;             // empty: inherit
  long file_size_limit = -1;   // RLIMIT_FSIZE in bytes, SIGXFSZ ignored
  long address_space_limit = -1;  // RLIMIT_AS in bytes
  // Subject root to permission bits: the child and what it runs lose the
  // capabilities that override them (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH,
  // CAP_FOWNER). Nothing to do for an ordinary user.
  bool without_root_overrides = false;
  bool ignore_sigchld = false; // start it with SIGCHLD ignored, as some parents do
  uid_t run_as = 0;            // as root: run it as this user (and group), as lpd runs a filter
  unsigned timeout_seconds = 60;  // then SIGALRM ends it: a hang fails, not stalls
  std::vector<std::string> env = {};  // NAME=value, added to the environment
};

// Runs |binary| with the argument vector |argv| (argv[0] given explicitly).
RunResult RunProgram(const std::string& binary, const std::vector<std::string>& argv,
                     const RunOptions& options = {});

// For a forked child (a death test): lets this process map at most
// |bytes| more than it has, so that the next large allocation fails.
// False if the limit cannot be set, or binds nothing here (AddressSanitizer
// reserves far more than any such limit).
bool LimitAddressSpaceToCurrentPlus(size_t bytes);

#endif  // TESTS_TEST_UTIL_H_
