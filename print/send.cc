#include "print/send.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <string_view>

#include "lineio/string_printf.h"

namespace {

// A size in points as the comments give it: up to three decimals, no
// trailing zeros.
std::string Points(double value) {
  std::string text = StringPrintf("%.3f", value);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

Status WriteAllTo(int to, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(to, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? Status::FromErrno() : Status::Error(EIO);
    data.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

bool StartsWith(std::string_view line, std::string_view prefix) {
  return line.substr(0, prefix.size()) == prefix;
}

// The header a page's comments go into is no longer than this; a file
// whose first lines run longer has its comments left as they are.
constexpr size_t kHeaderMax = 64 * 1024;

}  // namespace

std::string PaperComments(const Paper& paper) {
  const std::string w = Points(paper.width), h = Points(paper.height);
  return StringPrintf("%%%%BoundingBox: 0 0 %.0f %.0f\n", std::ceil(paper.width - 0.0005),
                      std::ceil(paper.height - 0.0005)) +
         "%%HiResBoundingBox: 0 0 " + w + " " + h + "\n" +
         "%%DocumentMedia: plain " + w + " " + h + " 0 () ()\n";
}

Status SendPostScript(int from, int to, const std::optional<Paper>& paper) {
  std::string buffer(kHeaderMax, '\0');
  size_t filled = 0;
  auto fill = [&]() -> Status {
    while (filled < buffer.size()) {
      const ssize_t n = pread(from, buffer.data() + filled, buffer.size() - filled,
                              static_cast<off_t>(filled));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Status::FromErrno();
      if (n == 0) break;
      filled += static_cast<size_t>(n);
    }
    return {};
  };
  if (Status read = fill(); !read.ok()) return read;
  const std::string_view head(buffer.data(), filled);
  size_t sent = 0;  // bytes of |head| dealt with
  if (paper) {
    std::string header;
    bool placed = false, in_media = false;
    size_t pos = 0;
    for (bool first = true; pos < head.size(); first = false) {
      const size_t eol = head.find('\n', pos);
      if (eol == std::string_view::npos) break;  // a header line longer than all we read
      const std::string_view line = head.substr(pos, eol + 1 - pos);
      const bool end = !first && (StartsWith(line, "%%EndComments") || !StartsWith(line, "%") ||
                                  line == "\n");
      if (end) break;
      const bool continued = in_media && StartsWith(line, "%%+");
      in_media = false;
      if (StartsWith(line, "%%BoundingBox:") || StartsWith(line, "%%HiResBoundingBox:") ||
          StartsWith(line, "%%DocumentMedia:") || StartsWith(line, "%%Invocation:") || continued) {
        if (!placed && !StartsWith(line, "%%Invocation:")) {
          header += PaperComments(*paper);
          placed = true;
        }
        in_media = StartsWith(line, "%%DocumentMedia:") || continued;
      } else {
        header += line;
      }
      pos = eol + 1;
    }
    if (!placed) header += PaperComments(*paper);
    if (Status written = WriteAllTo(to, header); !written.ok()) return written;
    sent = pos;
  }
  if (Status written = WriteAllTo(to, head.substr(sent)); !written.ok()) return written;
  // The rest, in blocks.
  for (off_t offset = static_cast<off_t>(filled);;) {
    const ssize_t n = pread(from, buffer.data(), buffer.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Status::FromErrno();
    if (n == 0) return {};
    if (Status written = WriteAllTo(to, std::string_view(buffer.data(), static_cast<size_t>(n)));
        !written.ok()) {
      return written;
    }
    offset += n;
  }
}
