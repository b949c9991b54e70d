#include "print/cups_options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

void Set(CupsOptions* options, std::string name, std::string value) {
  if (name.empty()) return;  // "no" alone: CUPS adds no option of no name
  for (auto& [known, old] : *options) {
    if (SameName(known, name)) {
      old = std::move(value);
      return;
    }
  }
  options->emplace_back(std::move(name), std::move(value));
}

// A decimal number of digits with at most one point, as PWG names write
// sizes; its value in *out.
bool PwgNumber(std::string_view text, double* out) {
  if (text.empty() || text.size() > 16 || text.find_first_not_of("0123456789.") != text.npos ||
      std::count(text.begin(), text.end(), '.') > 1 || text.find_first_of("0123456789") == text.npos) {
    return false;
  }
  *out = std::strtod(std::string(text).c_str(), nullptr);
  return *out > 0;
}

}  // namespace

std::optional<std::string> PwgMediaSize(std::string_view value) {
  // <class>_<name>_<W>x<H><unit>: iso_a4_210x297mm, na_index-4x6_4x6in,
  // custom_62x100mm_62x100mm.
  const size_t last = value.rfind('_'), first = value.find('_');
  if (first == std::string_view::npos || first == 0 || last == first) return std::nullopt;
  const std::string_view kind = value.substr(0, first);
  if (kind.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") != std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view size = value.substr(last + 1);
  if (size.size() < 3) return std::nullopt;
  const std::string_view unit = size.substr(size.size() - 2);
  if (unit != "mm" && unit != "in") return std::nullopt;
  size.remove_suffix(2);
  const size_t x = size.find('x');
  double width, height;
  if (x == std::string_view::npos || !PwgNumber(size.substr(0, x), &width) ||
      !PwgNumber(size.substr(x + 1), &height)) {
    return std::nullopt;
  }
  const double scale = unit == "in" ? 25.4 : 1;
  char text[64];
  snprintf(text, sizeof text, "%.6gx%.6gmm", width * scale, height * scale);
  return std::string(text);
}

CupsOptions ParseCupsOptions(std::string_view text) {
  CupsOptions options;
  size_t pos = 0;
  const size_t size = text.size();
  while (pos < size && IsBlank(text[pos])) ++pos;
  while (pos < size) {
    const size_t name_start = pos;
    while (pos < size && !IsBlank(text[pos]) && text[pos] != '=') ++pos;
    if (pos == name_start) break;  // "=..." with no name: the rest is no option
    std::string name(text.substr(name_start, pos - name_start));
    while (pos < size && IsBlank(text[pos])) ++pos;
    if (pos == size || text[pos] != '=') {
      if (name.size() >= 2 && Lower(name[0]) == 'n' && Lower(name[1]) == 'o') {
        Set(&options, name.substr(2), "false");
      } else {
        Set(&options, std::move(name), "true");
      }
      continue;
    }
    ++pos;
    std::string value;
    while (pos < size && !IsBlank(text[pos])) {
      const char c = text[pos];
      if (c == ',') {
        // Between the values of a list, each of which may be quoted.
        value += c;
        ++pos;
      } else if (c == '\'' || c == '"') {
        for (++pos; pos < size && text[pos] != c; ++pos) {
          if (text[pos] == '\\' && pos + 1 < size) ++pos;
          value += text[pos];
        }
        if (pos < size) ++pos;  // the closing quote
      } else if (c == '{') {
        for (int depth = 0; pos < size; ++pos) {
          if (text[pos] == '\\' && pos + 1 < size) {
            value += text[++pos];
            continue;
          }
          value += text[pos];
          if (text[pos] == '{') {
            ++depth;
          } else if (text[pos] == '}' && --depth == 0) {
            ++pos;
            break;
          }
        }
      } else {
        // A plain word, quotes in it and all, up to the next blank.
        for (; pos < size && !IsBlank(text[pos]); ++pos) {
          if (text[pos] == '\\' && pos + 1 < size) ++pos;
          value += text[pos];
        }
      }
    }
    while (pos < size && IsBlank(text[pos])) ++pos;
    Set(&options, std::move(name), std::move(value));
  }
  return options;
}

std::optional<std::string> CupsOption(const CupsOptions& options, std::string_view name) {
  for (const auto& [known, value] : options) {
    if (SameName(known, name)) return value;
  }
  return std::nullopt;
}

bool ReadCupsJob(const CupsOptions& options, CupsJob* job, std::string* error) {
  *job = {};
  for (const char* name : {"PageSize", "media"}) {
    const std::optional<std::string> medium = CupsOption(options, name);
    if (!medium || medium->empty() || *medium == kDefaultMedium) continue;
    job->medium = PwgMediaSize(*medium).value_or(*medium);
    break;
  }
  for (const LimitOption& limit : kLimitOptions) {
    const std::optional<std::string> value = CupsOption(options, limit.name);
    if (!value) continue;
    const std::optional<uint64_t> number = PrintcapNumber(*value);
    if (!number) {
      *error = std::string(limit.name) + "=" + *value + " is no number of " + limit.unit +
               " (1 to 999999)";
      return false;
    }
    job->limits.*limit.value = std::min(job->limits.*limit.value, *number);
  }
  return true;
}
