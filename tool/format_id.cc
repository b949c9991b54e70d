#include "tool/format_id.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>

#include "lineio/string_printf.h"

namespace {

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

int HexValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

// A line is looked at up to its first zero byte and its newline.
std::string_view Text(std::string_view line) {
  return line.substr(0, std::min(line.find('\0'), line.find('\n')));
}

constexpr int32_t kWidthMarginMm = 3;
constexpr int32_t kHeightMarginMm = 6;
// The 54 mm tape is printed 590 dots wide, not the 601 the formula gives.
constexpr int32_t kSpecialWidthMm = 54;
constexpr int32_t kSpecialWidthDots = 590;

// Divides first, then multiplies, each step rounded to double, so that a
// wider floating-point unit gives the same figures.
bool ToDots(int32_t mm, int32_t margin, int32_t* dots) {
  double inches = static_cast<double>(static_cast<int64_t>(mm) - margin);
  inches = inches / kMmPerInch;
  double exact = inches * 300.0;
  if (exact >= static_cast<double>(std::numeric_limits<int32_t>::max()) + 1.0 ||
      exact <= static_cast<double>(std::numeric_limits<int32_t>::min()) - 1.0) {
    return false;
  }
  *dots = static_cast<int32_t>(exact);  // truncates toward zero
  return true;
}

double ToPoints(int32_t mm, double margin) {
  double inches = static_cast<double>(mm) / kMmPerInch;
  double points = inches * 72.0;
  points = points - margin;
  return points;
}

// The millimetres that |points| stand for once |margin| is added back.
bool ToMillimetres(double points, double margin, int32_t* mm) {
  const double value = std::round((points + margin) / 72.0 * kMmPerInch);
  if (!(std::fabs(value) <= std::numeric_limits<int32_t>::max())) return false;  // NaN too
  *mm = static_cast<int32_t>(value);
  return true;
}

}  // namespace

std::string MakeFormatId(int name_length, int32_t width, int32_t height, int64_t seconds,
                         long microseconds) {
  return StringPrintf("%s%02X%02X%03X%01X%04X", "KsL", static_cast<unsigned>(name_length),
                      static_cast<unsigned>(width), static_cast<unsigned>(height) & 0xFFFu,
                      static_cast<unsigned>(seconds) & 0xFu,
                      static_cast<unsigned>(microseconds) & 0xFFFFu);
}

std::string_view FormatIdIn(std::string_view line) {
  line = Text(line);
  size_t at = line.find("KsL");
  if (at == std::string_view::npos) return {};
  size_t end = at + 3;
  while (end < line.size() && IsUpperHex(line[end])) ++end;
  if (end - at - 3 < kMinIdDigits) return {};
  return line.substr(at, end - at);
}

bool IsFormatId(std::string_view text) {
  return text.find('\n') == std::string_view::npos && FormatIdIn(text) == text;
}

namespace {

// Where |id| stands in |line|: a view into it, as FormatIdIn gives (no
// arithmetic on pointers into two buffers), else the first place it is
// found. *view: it was a view.
size_t OffsetOf(std::string_view line, std::string_view id, bool* view = nullptr) {
  const std::less_equal<const char*> before;
  const bool inside =
      before(line.data(), id.data()) && before(id.data() + id.size(), line.data() + line.size());
  if (view != nullptr) *view = inside;
  return inside ? static_cast<size_t>(id.data() - line.data()) : line.find(id);
}

}  // namespace

bool EntryNameIn(std::string_view line, std::string_view id, std::string_view* name) {
  bool view;
  const size_t at = OffsetOf(line, id, &view);
  if (at == std::string_view::npos || id.size() < 5) return false;
  const size_t length = static_cast<size_t>(HexValue(id[3]) * 16 + HexValue(id[4]));
  const size_t start = at + id.size() + 1;  // after the separator
  if (start > line.size() || line.size() - start < length) return false;
  // The line is looked at up to its first zero byte and its newline: none
  // may come before the name's end. Where the identifier is the view
  // FormatIdIn gave, what comes before its end has neither.
  // A name is a few bytes: looked at one by one.
  for (size_t i = view ? at + id.size() : 0; i < start + length; ++i) {
    if (line[i] == '\0' || line[i] == '\n') return false;
  }
  *name = line.substr(start, length);
  return true;
}

std::string_view LineEnding(std::string_view line) {
  if (line.size() >= 2 && line.substr(line.size() - 2) == "\r\n") return "\r\n";
  return "\n";
}

bool SettingValueIs(std::string_view line, std::string_view id) {
  line = Text(line);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // a CRLF line's ending
  const size_t equals = line.find('=');
  return equals != std::string_view::npos && line.substr(equals + 1) == id;
}

std::string RenamedSetting(std::string_view line, std::string_view id) {
  return std::string(line.substr(0, line.find('=') + 1)) + std::string(id) +
         std::string(LineEnding(line));
}

std::string ResetSetting(std::string_view line) {
  return std::string(kRcResetLine, strlen(kRcResetLine) - 1) + std::string(LineEnding(line));
}

std::string FuncListLine(const std::string& id, const char* name) {
  return StringPrintf("%s/%s\n", id.c_str(), name);
}

bool PaperInfoLine(const std::string& id, const char* name, int32_t width, int32_t height,
                   std::string* line) {
  int32_t width_dots, height_dots;
  if (!WidthDots(width, &width_dots) || !HeightDots(height, &height_dots)) return false;
  *line = StringPrintf("%s/%s:\t%d\t%d\n", id.c_str(), name, width_dots, height_dots);
  return true;
}

std::string ImagingAreaLine(const std::string& id, int32_t width, int32_t height) {
  return StringPrintf("%s\t:\t%.2f\t%.2f\t%.2f\t%.2f\n", id.c_str(), kLeftMarginPoints,
                      kBottomMarginPoints, RightEdgePoints(width), TopEdgePoints(height));
}

bool WidthDots(int32_t width_mm, int32_t* dots) {
  if (width_mm == kSpecialWidthMm) {
    *dots = kSpecialWidthDots;
    return true;
  }
  return ToDots(width_mm, kWidthMarginMm, dots);
}

bool HeightDots(int32_t height_mm, int32_t* dots) {
  return ToDots(height_mm, kHeightMarginMm, dots);
}

double RightEdgePoints(int32_t width_mm) { return ToPoints(width_mm, kLeftMarginPoints); }

double TopEdgePoints(int32_t height_mm) { return ToPoints(height_mm, kBottomMarginPoints); }

namespace {

// isspace in the C locale, which the tool runs in, without a call.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// strtod for the plain numbers the imaging area file holds ("189.72"), over
// [p, end): an integer of at most 15 digits divided by a power of ten is
// rounded once, as strtod rounds, so the result is the same. Anything else
// is read by strtod from a copy. False if no number is there.
bool ReadNumber(const char* p, const char* end, double* value, const char** next) {
  const char* q = p;
  while (q < end && (*q == ' ' || *q == '\t')) ++q;
  const bool negative = q < end && *q == '-';
  if (q < end && (*q == '-' || *q == '+')) ++q;
  int64_t digits = 0;
  int count = 0, decimals = 0;
  bool point = false;
  for (; q < end; ++q) {
    if (*q >= '0' && *q <= '9') {
      // Past 15 digits strtod reads it: the sum must not overflow first.
      if (count < 16) digits = digits * 10 + (*q - '0');
      ++count;
      decimals += point;
    } else if (*q == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  static constexpr double kPowers[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
  if (count > 0 && count <= 15 && decimals <= 8 && (q == end || IsSpace(*q))) {
    const double plain = static_cast<double>(digits) / kPowers[decimals];
    *value = negative ? -plain : plain;
    *next = q;
    return true;
  }
  char text[256];
  const size_t length = std::min(static_cast<size_t>(end - p), sizeof text - 1);
  memcpy(text, p, length);
  text[length] = '\0';
  char* stop;
  *value = strtod(text, &stop);
  *next = p + (stop - text);
  return stop != text;
}

}  // namespace

bool SizeFromImagingArea(std::string_view line, std::string_view id, int32_t* width,
                         int32_t* height) {
  // " : n n n n" after the identifier, read as sscanf's " : %lf %lf %lf %lf"
  // would, up to the line's end.
  const size_t at = OffsetOf(line, id);
  if (at == std::string_view::npos) return false;
  // Up to the line's end. A zero byte ends a number as the end of a
  // zero-terminated line would: strtod, reading the copy, stops there.
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  const char* p = line.data() + std::min(at + id.size(), line.size());
  const char* end = line.data() + line.size();
  while (p < end && IsSpace(*p)) ++p;
  if (p == end || *p++ != ':') return false;
  double n[4];
  for (double& number : n) {
    if (!ReadNumber(p, end, &number, &p)) return false;
  }
  // No label is narrower or shorter than a millimetre.
  return ToMillimetres(n[2], kLeftMarginPoints, width) &&
         ToMillimetres(n[3], kBottomMarginPoints, height) && *width >= 1 && *height >= 1;
}

void SizeFromId(std::string_view id, int32_t* width, int32_t* height) {
  // The width field lies between the name length and the last eight
  // digits; the height is the three digits after it.
  const size_t height_at = id.size() - 8;
  uint64_t value = 0;
  for (size_t i = 5; i < height_at; ++i) {
    value = value * 16 + static_cast<uint64_t>(HexValue(id[i]));
    if (value > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
      value = std::numeric_limits<int32_t>::max();
    }
  }
  *width = static_cast<int32_t>(value);
  *height = HexValue(id[height_at]) * 256 + HexValue(id[height_at + 1]) * 16 +
            HexValue(id[height_at + 2]);
}

std::string_view EntryIdNamed(std::string_view line, std::string_view name) {
  const std::string_view id = FormatIdIn(line);
  std::string_view entry;
  return !id.empty() && EntryNameIn(line, id, &entry) && entry == name ? id : std::string_view();
}
