#ifndef TOOL_MODEL_DIR_H_
#define TOOL_MODEL_DIR_H_

#include <string>

// How long a run waits for the model lock before it gives up.
inline constexpr int kLockWaitSeconds = 10;

// A model's data directory ("<root><model>/inf"), opened once for the whole
// run. Every data file is opened, created and renamed relative to it, and
// the model lock is an advisory lock (flock) on it, held until the
// ModelDir is destroyed: runs that change a model's files go one at a time,
// since two at once would write the same temporary files.
class ModelDir {
 public:
  enum class LockMode { kShared, kExclusive };

  // |root| ends with '/'. If the directory does not open, fd() is -1 and
  // error() says why; every data file then fails to open with that error.
  ModelDir(const std::string& root, const char* model);
  ~ModelDir();
  ModelDir(const ModelDir&) = delete;
  ModelDir& operator=(const ModelDir&) = delete;

  // Takes the model lock, waiting at most |wait_seconds| for a holder to
  // let go: anyone who can open the directory can hold it. Returns 0, or
  // an errno: EWOULDBLOCK once the wait is over. Without a directory
  // there is nothing to lock, and nothing to change: 0.
  int Lock(LockMode mode, int wait_seconds = kLockWaitSeconds);

  const std::string& root() const { return root_; }
  const std::string& model() const { return model_; }
  int fd() const { return fd_; }
  int error() const { return error_; }

 private:
  std::string root_;
  std::string model_;
  int fd_ = -1;
  int error_ = 0;
};

#endif  // TOOL_MODEL_DIR_H_
