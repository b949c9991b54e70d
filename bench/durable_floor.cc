// The floor the label-format tool is measured against: the least a program
// can do for the same change with the same commit protocol. Each touched
// file is read once, in large blocks, and written once to a copy beside it
// with the change made (found by substring search), and the copy flushed;
// then a commit record is written and flushed, the directory flushed, the
// copies renamed over the files, the directory flushed again and the
// record removed. Before, it has the spooler-side tool beside the data
// directory (../lpd/kstapefmtcups) delete the name (replace, delete) and
// add the new format (add, replace), each through the system shell as the
// tool must. It knows the data set's layout and checks nothing.
//
// Usage: durable_floor INF_DIR MODEL add|replace|delete NAME OLD_ID NEW_ID
//   add      enters NEW_ID/NAME (func list, paper info, imaging area)
//   replace  the same, with OLD_ID's lines out and the rc setting renamed
//   delete   OLD_ID's lines out, the rc setting reset
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void Die(const std::string& what) {
  perror(what.c_str());
  exit(1);
}

void WriteAll(int fd, std::string_view data, const std::string& name) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n <= 0) Die(name);
    data.remove_prefix(static_cast<size_t>(n));
  }
}

// Copies the file |name| of |dir| to |out|, in blocks of 1 MiB of whole
// lines: the lines holding |drop| left out (found by one substring search
// a block), |insert| written after the first line holding |after|, and
// |append| at the end.
void CopyEdited(int dir, const std::string& name, int out, const std::string& drop,
                const std::string& after, const std::string& insert, const std::string& append) {
  const int in = openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) Die(name);
  std::vector<char> buffer(1 << 20);
  size_t carried = 0;  // a line begun at the end of the last block
  bool inserted = after.empty(), end = false;
  while (!end) {
    if (carried == buffer.size()) buffer.resize(buffer.size() * 2);
    const ssize_t n = read(in, buffer.data() + carried, buffer.size() - carried);
    if (n < 0) Die(name);
    end = n == 0;
    const size_t filled = carried + static_cast<size_t>(n);
    const char* base = buffer.data();
    const void* last = memrchr(base, '\n', filled);
    const size_t lines = end ? filled : last == nullptr ? 0 : static_cast<const char*>(last) - base + 1;
    size_t pos = 0;
    auto line_end = [&](const char* at) {
      const void* nl = memchr(at, '\n', lines - (at - base));
      return nl == nullptr ? lines : static_cast<const char*>(nl) - base + 1;
    };
    if (!inserted) {
      if (const void* at = memmem(base, lines, after.data(), after.size())) {
        const size_t stop = line_end(static_cast<const char*>(at));
        WriteAll(out, {base, stop}, name);
        WriteAll(out, insert, name);
        pos = stop;
        inserted = true;
      }
    }
    while (!drop.empty()) {
      const void* hit = memmem(base + pos, lines - pos, drop.data(), drop.size());
      if (hit == nullptr) break;
      const char* at = static_cast<const char*>(hit);
      const void* before = memrchr(base + pos, '\n', at - (base + pos));
      const size_t start = before == nullptr ? pos : static_cast<const char*>(before) - base + 1;
      WriteAll(out, {base + pos, start - pos}, name);
      pos = line_end(at);
    }
    WriteAll(out, {base + pos, lines - pos}, name);
    carried = filled - lines;
    memmove(buffer.data(), base + lines, carried);
  }
  WriteAll(out, append, name);
  close(in);
}

// Runs the spooler-side tool with |args| through the system shell, as
// every implementation must (system()), and waits for it. The arguments
// are the benchmark's own, quoted for the shell.
void Spooler(const std::string& inf, const std::vector<std::string>& args) {
  std::string command = "'" + inf + "/../lpd/kstapefmtcups'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  if (system(command.c_str()) != 0) Die(command);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    fprintf(stderr, "usage: %s INF_DIR MODEL add|replace|delete NAME OLD_ID NEW_ID\n", argv[0]);
    return 2;
  }
  const std::string model = argv[2], op = argv[3], name = argv[4], old_id = argv[5],
                    new_id = argv[6];
  const int dir = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) Die(argv[1]);
  const bool enter = op != "delete", leave = op != "add";
  const std::string drop = leave ? old_id : "";

  struct Change {
    std::string name, after, insert, append;
  };
  std::vector<Change> changes = {
      {"ks" + model + "func", enter ? "[CustomTape]" : "", enter ? new_id + "/" + name + "\n" : "",
       ""},
      {"paperinf" + model + "pt1", "", "", enter ? new_id + "/" + name + ":\t306\t754\n" : ""},
      {"ImagingArea", "", "", enter ? new_id + "\t:\t4.32\t8.40\t77.76\t189.72\n" : ""},
  };
  if (leave) changes.push_back({"ks" + model + "rc", "", "", ""});

  // The tool deletes the name on the spooler side before an add as well.
  Spooler(argv[1], {"-P", "LX-230", "-d", name, "-show", "1"});
  if (enter) {
    Spooler(argv[1], {"-P", "LX-230", "-n", name, "-w", "29", "-h", "70", "-specid", new_id,
                      "-show", "1"});
  }

  std::string record = "kstapefmtlpr commit\n";
  for (const Change& change : changes) {
    const std::string copy = change.name + ".$$$";
    const int fd = openat(dir, copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) Die(copy);
    if (change.name == "ks" + model + "rc") {
      // The setting that named the old format: renamed, or reset.
      CopyEdited(dir, change.name, fd, "MediaSize=" + old_id, "", "",
                 "MediaSize=" + (enter ? new_id : std::string("29x90")) + "\n");
    } else {
      CopyEdited(dir, change.name, fd, drop, change.after, change.insert, change.append);
    }
    if (fsync(fd) != 0 || close(fd) != 0) Die(copy);
    record += change.name + "\n";
  }
  record += "end\n";
  const int rec = openat(dir, "commit.$$$", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (rec < 0) Die("commit.$$$");
  WriteAll(rec, record, "commit.$$$");
  if (fsync(rec) != 0 || close(rec) != 0 || fsync(dir) != 0) Die("commit.$$$");
  for (const Change& change : changes) {
    if (renameat(dir, (change.name + ".$$$").c_str(), dir, change.name.c_str()) != 0) {
      Die(change.name);
    }
  }
  if (fsync(dir) != 0 || unlinkat(dir, "commit.$$$", 0) != 0) Die(argv[1]);
  return 0;
}
