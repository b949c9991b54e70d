#include "tool/status.h"

#include <cerrno>
#include <cstring>
#include <utility>

Status Status::Error(int error, std::string path, const char* why) {
  Status status(Kind::kError);
  status.error_ = error != 0 ? error : EIO;  // a failure is never "Success"
  status.path_ = std::move(path);
  status.why_ = why;
  return status;
}

Status Status::FromErrno(std::string path) { return Error(errno, std::move(path)); }

std::string Status::Message() const {
  const std::string text = why_ != nullptr ? why_ : strerror(error_);
  return path_.empty() ? text : path_ + ": " + text;
}
