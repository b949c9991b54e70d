// The line reader and the identifier lookup over arbitrary file content.
// Input: one byte giving the length of the name, the name, then the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lineio/line_blocks.h"
#include "lineio/line_reader.h"
#include "tool/lookup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t name_length = data[0] % 40;
  if (size < 1 + name_length) return 0;
  // Names as the tool asks for them: 1 to 32 bytes, no zero byte, no newline.
  std::string name(reinterpret_cast<const char*>(data + 1), name_length);
  if (name.empty() || name.size() > 32 || name.find('\0') != std::string::npos ||
      name.find('\n') != std::string::npos) {
    return 0;
  }
  std::string content(reinterpret_cast<const char*>(data + 1 + name_length),
                      size - 1 - name_length);

  // Reading every line gives back the content, byte for byte.
  FILE* in = fmemopen(content.data(), content.size(), "r");
  if (in == nullptr) return 0;  // fmemopen refuses empty buffers on some systems
  std::string again;
  LineBuffer line;
  ssize_t n;
  size_t line_start = 0;
  bool reference_found = false;
  LineSpan reference{0, 0};
  while ((n = ReadLine(&line, in)) > 0) {
    // The block search must find the same first line as a per-line test.
    if (!reference_found && LineContains(line, name.c_str())) {
      reference_found = true;
      reference = {line_start, line_start + static_cast<size_t>(n)};
    }
    line_start += static_cast<size_t>(n);
    if (line.data[n] != '\0') abort();
    if (memchr(line.data, '\n', static_cast<size_t>(n)) != line.data + n - 1 &&
        (memchr(line.data, '\n', static_cast<size_t>(n)) != nullptr)) {
      abort();  // a newline inside a line
    }
    again.append(line.data, static_cast<size_t>(n));
  }
  if (again != content) abort();
  LineSpan span;
  bool found = FindLineContaining(content, 0, name, &span);
  if (found != reference_found) abort();
  if (found && (span.start != reference.start || span.end != reference.end)) abort();

  // A match is a whole entry: "KsL", the identifier, one separator, the name.
  rewind(in);
  std::string id;
  if (FindFormatIdIn(in, name.c_str(), &id).ok()) {
    if (id.compare(0, 3, "KsL") != 0 || id.size() < 15) abort();
    const std::string& c_name = name;
    bool whole = false;
    for (size_t at = content.find(id); at != std::string::npos && !whole;
         at = content.find(id, at + 1)) {
      whole = at + id.size() + 1 + c_name.size() <= content.size() &&
              content.compare(at + id.size() + 1, c_name.size(), c_name) == 0;
    }
    if (!whole) abort();
  }
  fclose(in);
  return 0;
}
