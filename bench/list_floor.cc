// The floor the listing (-l) is measured against: a small program that
// reads the func list, the paper info and the imaging area files once each
// and prints the same bytes as the listing for a data set as the tool
// leaves it (every format in all three files, no control characters in
// names). It reads each file whole into memory, keeps each identifier once
// as a word in an open-addressing table, and writes 64 KiB at a time. It
// checks nothing else; the sizes come from the tool's own conversions.
//
// Usage: list_floor INF_DIR MODEL
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tool/format_id.h"

namespace {

std::string ReadAll(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    perror(path.c_str());
    exit(1);
  }
  std::string text(static_cast<size_t>(st.st_size), '\0');
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = read(fd, text.data() + done, text.size() - done);
    if (n <= 0) exit(1);
    done += static_cast<size_t>(n);
  }
  close(fd);
  return text;
}

// Calls |fn| with each line of |text| that begins with an identifier.
template <typename Fn>
void ForEachIdLine(std::string_view text, Fn fn) {
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(pos, end - pos);
    if (line.compare(0, 3, "KsL") == 0) {
      const std::string_view id = FormatIdIn(line);
      if (!id.empty()) fn(line, id);
    }
    pos = end;
  }
}

// An identifier of up to 15 hex digits as one word (the bench's all are).
uint64_t Word(std::string_view id) {
  uint64_t value = id.size();
  for (char c : id.substr(3)) value = value * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'A' + 10);
  return value;
}

struct Slot {
  uint64_t word = 0;  // 0: empty
  int32_t width = 0, height = 0;
  bool in_paper = false, in_area = false;
};

class Table {
 public:
  explicit Table(size_t count) {
    while ((size_t{1} << bits_) < count * 2) ++bits_;
    slots_.resize(size_t{1} << bits_);
  }
  Slot& At(std::string_view id) {
    const uint64_t word = Word(id);
    size_t i = static_cast<size_t>((word * 0x9E3779B97F4A7C15ull) >> (64 - bits_));
    while (slots_[i].word != 0 && slots_[i].word != word) i = (i + 1) & (slots_.size() - 1);
    slots_[i].word = word;
    return slots_[i];
  }

 private:
  int bits_ = 4;
  std::vector<Slot> slots_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s INF_DIR MODEL\n", argv[0]);
    return 2;
  }
  const std::string inf = std::string(argv[1]) + "/", model = argv[2];
  const std::string func = ReadAll(inf + "ks" + model + "func");
  const std::string paper = ReadAll(inf + "paperinf" + model + "pt1");
  const std::string area = ReadAll(inf + "ImagingArea");
  Table table(area.size() / 32);
  ForEachIdLine(area, [&](std::string_view line, std::string_view id) {
    Slot& slot = table.At(id);
    if (slot.in_area) return;
    slot.in_area = true;
    if (!SizeFromImagingArea(line, id, &slot.width, &slot.height)) {
      SizeFromId(id, &slot.width, &slot.height);
    }
  });
  ForEachIdLine(paper, [&](std::string_view, std::string_view id) { table.At(id).in_paper = true; });
  std::string out;
  out.reserve(64 * 1024 + 4096);
  auto number = [&out](int32_t n) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end);
  };
  ForEachIdLine(func, [&](std::string_view line, std::string_view id) {
    std::string_view name;
    if (!EntryNameIn(line, id, &name)) return;
    const Slot& slot = table.At(id);
    out.append(name);
    out += '\t';
    number(slot.width);
    out += 'x';
    number(slot.height);
    out += '\t';
    out.append(id);
    out.append(slot.in_paper && slot.in_area ? "\tok\n" : "\tmissing\n");
    if (out.size() >= 64 * 1024) {
      fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  });
  fwrite(out.data(), 1, out.size(), stdout);
  return fflush(stdout) == 0 ? 0 : 1;
}
