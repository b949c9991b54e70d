#include "tool/command_line.h"

#include <cctype>
#include <cstring>
#include <limits>

#include "lineio/string_printf.h"
#include "tool/data_set.h"
#include "tool/format_id.h"
#include "tool/format_text.h"

namespace {

constexpr size_t kMillimetreTextMax = 32;

// Reads a decimal integer as atol does, into 32 bits: leading white space and
// one sign, stopping at the first other character; too large a value gives
// the largest 32-bit value.
int32_t ReadInt32(const char* text) {
  const char* p = text;
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  const int64_t limit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
  for (; isdigit(static_cast<unsigned char>(*p)); ++p) {
    value = value * 10 + (*p - '0');
    if (value > limit) value = limit;
  }
  if (negative) return value >= limit ? std::numeric_limits<int32_t>::min()
                                      : static_cast<int32_t>(-value);
  return value >= limit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

bool StoreText(char* field, const char* value, size_t max) {
  size_t length = strlen(value);
  if (length == 0 || length > max) return false;
  memcpy(field, value, length + 1);
  return true;
}

// A newline would split the entry lines written with the name.
bool StoreName(char* field, const char* value) {
  return strchr(value, '\n') == nullptr && StoreText(field, value, kNameMax);
}

// A new name must also not corrupt the files it is written into: a control
// byte (a tab splits the paper info fields), or the section header, which
// would make the entry line a header line that every later add writes
// after too.
bool StoreNewName(char* field, const char* value) {
  for (const char* p = value; *p != '\0'; ++p) {
    if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7F) return false;
  }
  return strstr(value, kCustomTapeHeader) == nullptr && StoreName(field, value);
}

// A size is accepted when at least 1 and small enough for its dots to fit
// 32 bits.
bool StoreMillimetres(int32_t* field, const char* value, bool (*to_dots)(int32_t, int32_t*)) {
  size_t length = strlen(value);
  if (length == 0 || length > kMillimetreTextMax) return false;
  int32_t mm = ReadInt32(value);
  int32_t dots;
  if (mm < 1 || !to_dots(mm, &dots)) return false;
  *field = mm;
  return true;
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
  ParsedCommandLine parsed;
  FormatRequest& request = parsed.request;
  bool valid = argc % 2 == 1;
  bool queue_given = false, add_given = false, delete_given = false;
  bool width_given = false, height_given = false;

  const char* model = DetectModel(argc > 0 ? argv[0] : "");
  if (model == nullptr) {
    parsed.command = Command::kInvalidModel;
    return parsed;
  }
  strcpy(request.model, model);
  if (argc == 2 && strcmp(argv[1], "-l") == 0) {
    parsed.command = Command::kList;
    return parsed;
  }
  if (argc == 3 && strcmp(argv[1], "-m") == 0) {
    parsed.command = Command::kMedium;
    parsed.medium = argv[2];
    return parsed;
  }

  std::string& refused = parsed.refused;
  if (argc < 2) refused = "no command: an add (-P -n -w -h), a delete (-P -d), -l or -m";
  if (argc >= 2 && !valid) {
    refused = std::string(argv[argc - 1]) + " has no value (each option takes one)";
  }
  if (argc >= 3 && valid) {
    for (int i = 1; i + 1 < argc; i += 2) {
      const char* option = argv[i];
      const char* value = argv[i + 1];
      const std::string shown = Printable(value);
      bool ok;
      if (strncmp(option, "-P", 2) == 0) {
        ok = queue_given = StoreText(request.queue, value, kQueueMax);
        if (!ok) refused = "-P " + shown + ": a queue is 1 to 1023 bytes";
      } else if (strncmp(option, "-n", 2) == 0) {
        ok = add_given = StoreNewName(request.name, value);
        if (!ok) {
          refused = "-n " + shown + ": a name to add is 1 to " + std::to_string(kNameMax) +
                    " bytes, without a control character or the text " + kCustomTapeHeader;
        }
      } else if (strncmp(option, "-d", 2) == 0) {
        ok = delete_given = StoreName(request.name, value);
        if (!ok) refused = "-d " + shown + ": a name is 1 to " + std::to_string(kNameMax) + " bytes, without a newline";
      } else if (strncmp(option, "-w", 2) == 0) {
        ok = width_given = StoreMillimetres(&request.width, value, WidthDots);
        if (!ok) refused = "-w " + shown + ": a width is a whole number of mm, 1 to 182096569";
      } else if (strncmp(option, "-h", 2) == 0) {
        ok = height_given = StoreMillimetres(&request.height, value, HeightDots);
        if (!ok) refused = "-h " + shown + ": a length is a whole number of mm, 1 to 182096572";
      } else {
        ok = false;
        refused = Printable(option) + ": no such option (-P, -n, -d, -w, -h; or -l, or -m and a medium, alone)";
      }
      if (!ok) {
        valid = false;
        break;
      }
    }
  }

  if (valid && queue_given && add_given && !delete_given && width_given && height_given) {
    parsed.command = Command::kAdd;
  } else if (valid && queue_given && delete_given && !add_given) {
    parsed.command = Command::kDelete;
  } else {
    parsed.command = Command::kUsage;
    if (refused.empty()) {
      if (add_given && delete_given) {
        refused = "-n and -d together: a run adds or deletes, not both";
      } else if (!queue_given) {
        refused = "no queue: an add or a delete needs -P";
      } else if (!add_given && !delete_given) {
        refused = "no format: an add needs -n, -w and -h; a delete -d";
      } else {
        refused = std::string("an add needs ") + (width_given ? "" : "-w") +
                  (width_given || height_given ? "" : " and ") + (height_given ? "" : "-h");
      }
    }
  }
  return parsed;
}

std::string UsageText() {
  std::string text;
  text += "===========================\n";
  text += StringPrintf(" LPRng Tapefmt Tool (%s)\n", "v 0.1");
  text += StringPrintf(
      " Usage: kstapefmtlpr_xxxx -P LX-xxxx Printer Name [-n add a Lable Format Name (<=%d "
      "bytes) -w Media Width(unit:mm) -h Media Height(unit:mm)]/[-d delete Lable Format "
      "Name]\n",
      kNameMax);
  text += " For example:\n";
  text +=
      " 1. Add a new Label Format with \"New Label Format\" name and 29mm width and 70mm "
      "length:\n";
  text += "\t\"kstapefmtlpr_lx230 -P LX-230 -n New\\ Label\\ Format -w 29 -h 70\" [enter]\n\n";
  text += " 2. Remove the Label Format with \"New Label Format\" name:\n";
  text += "\t\"kstapefmtlpr_lx230 -P LX-230 -d New\\ Label\\ Format\" [enter]\n\n";
  text += "===========================\n";
  return text;
}
