#include "tool/transaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "lineio/dir_ops.h"
#include "tool/data_file.h"

namespace {

TempByteLimitFn temp_byte_limit = nullptr;

// Creates the copy afresh: a stale one from an interrupted run is removed
// first (if something else stands there and cannot be removed, the
// exclusive create reports it). The data files are shared by every user of
// the printer: 0666 whatever the umask.
FILE* CreateCopy(int dir_fd, const std::string& copy_name) {
  struct stat st;
  if (fstatat(dir_fd, copy_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    RemoveIn(dir_fd, copy_name.c_str());
  }
  int fd = CreateIn(dir_fd, copy_name.c_str(), 0666);
  if (fd < 0) return nullptr;
  FILE* out = fdopen(fd, "w");
  if (out == nullptr) {
    int saved = errno;
    close(fd);
    RemoveIn(dir_fd, copy_name.c_str());
    errno = saved;
  }
  return out;
}

// Flushes the copy to disk and closes it; the first failure wins.
int FinishCopy(FILE* out, const std::string& name) {
  int error = 0;
  if (fflush(out) != 0 || ferror(out)) error = errno != 0 ? errno : EIO;
  if (error == 0 && SyncFile(fileno(out), name.c_str()) != 0) error = errno;
  if (fclose(out) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace

void SetTempByteLimitForTesting(TempByteLimitFn limit) { temp_byte_limit = limit; }

int StageRewrite(int dir_fd, const char* name, const std::vector<LineEdit>& edits,
                 const std::string& append, size_t* edited) {
  FILE* in = OpenDataFile(dir_fd, name);
  if (in == nullptr) return -1;

  const std::string copy_name = std::string(name) + kTempSuffix;
  FILE* out = CreateCopy(dir_fd, copy_name);
  if (out == nullptr) {
    int saved = errno;
    fclose(in);
    errno = saved;
    return -1;
  }
  int error = CopyEdited(in, out, edits, append,
                         temp_byte_limit != nullptr ? temp_byte_limit(name) : SIZE_MAX, edited);
  int finish_error = FinishCopy(out, copy_name);
  if (error == 0) error = finish_error;
  fclose(in);  // read-only: nothing to lose
  if (error != 0) {
    RemoveIn(dir_fd, copy_name.c_str());
    errno = error;
    return -1;
  }
  return 0;
}
