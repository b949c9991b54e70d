#ifndef TOOL_STATUS_H_
#define TOOL_STATUS_H_

#include <string>

// The tool's one error convention. A function that can fail returns a
// Status: success, or the error number of the first failure with, where a
// message names it, the path it concerns. errno is read only right after
// the system call that failed, into a Status (FromErrno), so that nothing
// in between can change it; no function of the tool leaves a failure in
// errno for its caller. Outcomes that are answers rather than failures (a
// format not found, the spooler-side tool saying no) are kinds of their
// own, so that one value says everything an operation came to.
class [[nodiscard]] Status {
 public:
  enum class Kind {
    kOk,
    kNotFound,       // what was looked for is not there
    kSpoolerFailed,  // the spooler-side tool ended with a failure; it spoke for itself
    kError,          // a call failed: error(), and path() if the message names one
  };

  Status() = default;  // success
  static Status Error(int error, std::string path = {}, const char* why = nullptr);
  // errno as the call that just failed left it.
  static Status FromErrno(std::string path = {});
  static Status NotFound() { return Status(Kind::kNotFound); }
  static Status SpoolerFailed() { return Status(Kind::kSpoolerFailed); }

  bool ok() const { return kind_ == Kind::kOk; }
  Kind kind() const { return kind_; }
  bool not_found() const { return kind_ == Kind::kNotFound; }
  int error() const { return error_; }  // 0 unless kError
  const std::string& path() const { return path_; }
  // The same failure, naming |path| instead.
  Status WithPath(std::string path) const {
    Status named = *this;
    named.path_ = std::move(path);
    return named;
  }

  // The line a failure is reported with: "<path>: <text>" where there is a
  // path, else the error's text alone; the text is |why| if given, else
  // strerror's.
  std::string Message() const;

 private:
  explicit Status(Kind kind) : kind_(kind) {}

  Kind kind_ = Kind::kOk;
  int error_ = 0;
  std::string path_;
  const char* why_ = nullptr;
};

#endif  // TOOL_STATUS_H_
