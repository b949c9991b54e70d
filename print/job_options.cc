#include "print/job_options.h"

#include <cstdlib>

namespace {

// A decimal number of digits only, with at most one point among them.
bool IsDecimal(const std::string& text) {
  size_t points = 0, digits = 0;
  for (char c : text) {
    if (c == '.') {
      ++points;
    } else if (c >= '0' && c <= '9') {
      ++digits;
    } else {
      return false;
    }
  }
  return digits > 0 && points <= 1 && text.size() <= 32;
}

}  // namespace

std::optional<uint64_t> PrintcapNumber(const std::string& text) {
  // Leading zeros read as decimal, not octal: 010 is ten.
  size_t start = text.find_first_not_of('0');
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      start == std::string::npos || text.size() - start > 6) {
    return std::nullopt;
  }
  return std::strtoull(text.c_str() + start, nullptr, 10);
}

bool ParseQueueOptions(const std::string& entry, QueueOptions* options, std::string* error) {
  *options = {};
  bool seen[std::size(kLimitOptions)] = {};
  bool medium_seen = false;
  for (size_t pos = 0; pos <= entry.size();) {
    size_t end = entry.find(':', pos);
    if (end == std::string::npos) end = entry.size();
    std::string field = entry.substr(pos, end - pos);
    pos = end + 1;
    // Up to the end of its line, after blanks: lpd hands the entry on as
    // it was written.
    const size_t start = field.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) continue;
    field = field.substr(start, field.find_first_of("\r\n", start) - start);
    const size_t mark = field.find_first_of("=#");
    if (mark == std::string::npos) continue;
    const std::string name = field.substr(0, mark), value = field.substr(mark + 1);
    if (name == "ks_media" && field[mark] == '=') {
      if (!medium_seen) options->medium = value;
      medium_seen = true;
      continue;
    }
    for (size_t i = 0; i < std::size(kLimitOptions); ++i) {
      if (name != kLimitOptions[i].name || seen[i]) continue;
      seen[i] = true;
      const std::optional<uint64_t> number = PrintcapNumber(value);
      if (!number) {
        *error = field + " is no number of " + kLimitOptions[i].unit + " (1 to 999999)";
        return false;
      }
      options->limits.*kLimitOptions[i].value = *number;
    }
  }
  return true;
}

bool ParseJobOptions(const std::vector<std::string>& args, JobOptions* options,
                     std::string* error) {
  *options = {};
  for (size_t i = 0; i < args.size(); ++i) {
    std::string list;
    if (args[i] == "-Z") {
      if (i + 1 == args.size()) break;
      list = args[++i];
    } else if (args[i].rfind("-Z", 0) == 0) {
      list = args[i].substr(2);
    } else {
      continue;
    }
    for (size_t pos = 0; pos <= list.size();) {
      size_t end = list.find(',', pos);
      if (end == std::string::npos) end = list.size();
      const std::string option = list.substr(pos, end - pos);
      pos = end + 1;
      if (option.empty()) continue;
      if (option.rfind("media=", 0) == 0) {
        options->medium = option.substr(6);
        options->medium_given = true;
      } else if (option.rfind("length=", 0) == 0) {
        const std::string value = option.substr(7);
        if (!IsDecimal(value)) {
          *error = option + " is no length in 1/300 inch";
          return false;
        }
        options->length = std::strtod(value.c_str(), nullptr);
      } else {
        *error = "unknown job option: -Z " + option + " (known: media=, length=)";
        return false;
      }
    }
  }
  if (options->medium_given && options->medium.empty()) {
    *error = "media= names no medium";
    return false;
  }
  return true;
}
