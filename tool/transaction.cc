#include "tool/transaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "tool/dir_ops.h"
#include "lineio/write_all.h"
#include "tool/data_file.h"

namespace {

// The record: this first line, one data file name a line, and this last
// line, so that a record cut short is never taken for one.
constexpr char kRecordHead[] = "kstapefmtlpr commit\n";
constexpr char kRecordTail[] = "end\n";
// A record names each data file at most once; anything longer is not ours.
constexpr size_t kRecordMax = 4096;

enum class Record { kComplete, kIncomplete, kMalformed };

bool IsPrefixOf(std::string_view part, std::string_view whole) {
  return whole.substr(0, part.size()) == part;
}

// Reads the record |in| into the data file names it holds. A record cut
// short (by a power cut before it was flushed: the renames had not begun)
// is kIncomplete; anything that is neither a record nor the start of one,
// or names anything but the data files |known|, each once, is kMalformed.
Record ReadRecord(FILE* in, const std::vector<std::string>& known, std::vector<std::string>* names) {
  std::string text(kRecordMax + 1, '\0');
  text.resize(fread(text.data(), 1, text.size(), in));
  if (ferror(in) || text.size() > kRecordMax) return Record::kMalformed;
  const std::string_view head = kRecordHead;
  if (text.size() < head.size()) return IsPrefixOf(text, head) ? Record::kIncomplete : Record::kMalformed;
  if (!IsPrefixOf(head, text)) return Record::kMalformed;
  const std::string tail(kRecordTail, strlen(kRecordTail) - 1);  // without its newline
  for (size_t pos = head.size(); pos < text.size();) {
    const size_t eol = text.find('\n', pos);
    const std::string line = text.substr(pos, eol - pos);
    if (eol == std::string::npos) {  // cut inside a line
      const bool prefix = IsPrefixOf(line, tail) ||
                          std::any_of(known.begin(), known.end(),
                                      [&](const std::string& name) { return IsPrefixOf(line, name); });
      return prefix ? Record::kIncomplete : Record::kMalformed;
    }
    if (line == tail) return eol + 1 == text.size() ? Record::kComplete : Record::kMalformed;
    if (std::find(known.begin(), known.end(), line) == known.end() ||
        std::find(names->begin(), names->end(), line) != names->end()) {
      return Record::kMalformed;
    }
    names->push_back(line);
    pos = eol + 1;
  }
  return Record::kIncomplete;
}

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

int CommitStaged(int dir_fd, const std::vector<std::string>& names) {
  if (names.empty()) return 0;
  std::string record = kRecordHead;
  for (const std::string& name : names) record += name + "\n";
  record += kRecordTail;

  // Up to the commit point, a failure leaves every data file as it was.
  int error = 0;
  int fd = CreateIn(dir_fd, kCommitRecordName, 0644);
  if (fd < 0) {
    error = errno;
  } else {
    if (WriteAllFd(fd, record.data(), record.size()) != 0 ||
        SyncFile(fd, kCommitRecordName) != 0) {
      error = errno;
    }
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && SyncDir(dir_fd) != 0) error = errno;
    if (error != 0) RemoveIn(dir_fd, kCommitRecordName);
  }
  if (error != 0) {
    RemoveStaged(dir_fd, names);
    errno = error;
    return -1;
  }

  // Committed: from here on the change stands, and what an interruption
  // leaves undone the next run does.
  for (const std::string& name : names) {
    if (RenameIn(dir_fd, (name + kTempSuffix).c_str(), name.c_str()) != 0) return -1;
  }
  if (SyncDir(dir_fd) != 0) return -1;
  // Only now may the record go: until the renames are on disk, it is what
  // completes them after a power cut. A record left behind is harmless.
  RemoveIn(dir_fd, kCommitRecordName);
  return 0;
}

void RemoveStaged(int dir_fd, const std::vector<std::string>& names) {
  for (const std::string& name : names) RemoveIn(dir_fd, (name + kTempSuffix).c_str());
}

int RecoverStaged(int dir_fd, const std::vector<std::string>& data_files, std::string* name) {
  *name = kCommitRecordName;
  struct stat st;
  if (fstatat(dir_fd, kCommitRecordName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    FILE* in = OpenDataFile(dir_fd, kCommitRecordName);
    if (in == nullptr) return errno;
    std::vector<std::string> names;
    const Record record = ReadRecord(in, data_files, &names);
    fclose(in);
    if (record == Record::kMalformed) return EBADMSG;
    // A complete record: the change was committed, and every copy that is
    // still there goes over its data file (one that is gone was renamed
    // before the interruption). An incomplete one: it was not, and the
    // record goes with the copies.
    if (record == Record::kIncomplete) names.clear();
    for (const std::string& file : names) {
      const std::string copy = file + kTempSuffix;
      *name = copy;
      // A copy is checked as a data file is before it becomes one.
      FILE* staged = OpenDataFile(dir_fd, copy.c_str());
      if (staged == nullptr) {
        if (errno == ENOENT) continue;
        return errno;
      }
      fclose(staged);
      if (RenameIn(dir_fd, copy.c_str(), file.c_str()) != 0) return errno;
    }
    *name = "";
    if (!names.empty() && SyncDir(dir_fd) != 0) return errno;
    *name = kCommitRecordName;
    if (RemoveIn(dir_fd, kCommitRecordName) != 0) return errno;
  } else if (errno != ENOENT) {
    return errno;
  }
  RemoveStaleCopies(dir_fd, data_files);
  return 0;
}

void RemoveStaleCopies(int dir_fd, const std::vector<std::string>& data_files) {
  // One that cannot be removed (a reader may not write the directory) is
  // harmless, and makes the next copy of its file fail.
  for (const std::string& file : data_files) {
    const std::string copy = file + kTempSuffix;
    struct stat st;
    if (fstatat(dir_fd, copy.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) RemoveIn(dir_fd, copy.c_str());
  }
}
