#ifndef TOOL_MODEL_LOCK_H_
#define TOOL_MODEL_LOCK_H_

#include <string>

// Holds an exclusive advisory lock on a model's data directory for as long as
// it lives, so that runs on one model are made one at a time: two at once
// would write the same temporary files. A second run waits. If the directory
// cannot be opened the lock is not taken and the run goes on: its first data
// file then fails to open and says why.
class ModelLock {
 public:
  explicit ModelLock(const std::string& directory);
  ~ModelLock();
  ModelLock(const ModelLock&) = delete;
  ModelLock& operator=(const ModelLock&) = delete;

  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

#endif  // TOOL_MODEL_LOCK_H_
