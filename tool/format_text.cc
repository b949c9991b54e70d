#include "tool/format_text.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "lineio/string_printf.h"
#include "tool/data_set.h"

namespace {

// Length of the valid UTF-8 character at the start of |s|, or 0.
size_t Utf8Length(std::string_view s) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

char* PrintableTo(std::string_view name, char* out) {
  static const char kHex[] = "0123456789abcdef";
  auto hex = [&](unsigned char byte) {
    *out++ = '\\';
    *out++ = 'x';
    *out++ = kHex[byte >> 4];
    *out++ = kHex[byte & 15];
  };
  // Most names are printable ASCII throughout: copied as they are.
  size_t plain = 0;
  while (plain < name.size() && static_cast<unsigned char>(name[plain] - 0x20) < 0x5F &&
         name[plain] != '\\') {
    ++plain;
  }
  if (plain > 0) memcpy(out, name.data(), plain);  // an empty name's data may be null
  out += plain;
  for (size_t i = plain; i < name.size();) {
    const unsigned char byte = static_cast<unsigned char>(name[i]);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      *out++ = static_cast<char>(byte);
      ++i;
      continue;
    }
    const size_t length = byte >= 0x80 ? Utf8Length(name.substr(i)) : 1;
    if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(name[i + 1]) <= 0x9F) {
      hex(byte);
      hex(static_cast<unsigned char>(name[i + 1]));
    } else if (length > 1) {
      memcpy(out, name.data() + i, length);
      out += length;
    } else if (byte == '\\') {
      *out++ = '\\';
      *out++ = '\\';
    } else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F)) {
      hex(byte);
    } else {
      *out++ = static_cast<char>(byte);
    }
    i += length > 0 ? length : 1;
  }
  return out;
}

std::string Printable(std::string_view name) {
  std::string out(name.size() * kPrintableGrowth, '\0');
  out.resize(static_cast<size_t>(PrintableTo(name, out.data()) - out.data()));
  return out;
}

void AppendState(std::string* line, const std::string& model, bool in_func, bool in_paper,
                 bool in_area, bool area_readable) {
  const size_t state = line->size();
  auto lacks = [&](DataFile file) {
    *line += line->size() == state ? "missing: " : ", ";
    *line += DataFileName(model, file);
  };
  if (!in_func) lacks(DataFile::kFuncList);
  if (!in_paper) lacks(DataFile::kPaperInfo);
  if (!in_area) lacks(DataFile::kImagingArea);
  if (in_area && !area_readable) {
    if (line->size() != state) *line += "; ";
    *line += "bad size in " + DataFileName(model, DataFile::kImagingArea);
  }
  if (line->size() == state) *line += "ok";
}

std::string ReadFailureText(const Status& status, const std::string& root, const std::string& model) {
  if (status.error() == ENOENT) {
    std::vector<std::string> chain = {root, ModelPath(root, model), DataDirPath(root, model)};
    if (!status.path().empty()) chain.push_back(status.path());
    for (const std::string& path : chain) {
      struct stat st;
      if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
        return path + ": " + strerror(ENOENT) + " (the printer driver for " + model +
               " provides it: install the driver first)";
      }
    }
  }
  return status.Message();
}

std::string MediumAnswerText(MediumAnswer answer, const Medium& medium, const Status& status,
                             const std::string& root, const std::string& model,
                             const std::string& tool) {
  const std::string name = Printable(medium.name);
  switch (answer) {
    case MediumAnswer::kFound: break;
    case MediumAnswer::kNoDefault:
      return "no medium named, and " + DataDirPath(root, model) + "/" +
             DataFileName(model, DataFile::kRc) + " has no default medium (MediaSize=)";
    case MediumAnswer::kUnknown: return "unknown medium: " + name + " (see " + tool + " -l)";
    case MediumAnswer::kSeveral:
      return "medium " + name + " matches several formats: name one by its identifier (see " +
             tool + " -l)";
    case MediumAnswer::kNoArea: return "medium " + name + " has no area";
    case MediumAnswer::kFailed: return ReadFailureText(status, root, model);
  }
  return {};
}
