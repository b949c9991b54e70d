#include "tool/find_medium.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "lineio/line_blocks.h"
#include "tool/format_id.h"
#include "tool/format_text.h"

namespace {

// A line without its ending, LF or CRLF.
std::string_view Trimmed(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Calls |look| with each line of |file| that contains |needle| (every line
// if it is empty), until it returns true: a line that cannot match is
// passed over at the speed of a substring search. A file that does not
// exist holds no lines unless |required|. Fails if the file is refused or
// cannot be read to where the scan stopped.
template <typename Look>
Status ForEachLine(const DataSet& data, DataFile file, bool required, std::string_view needle,
                   Look look) {
  FILE* in;
  if (Status opened = data.OpenForReading(file, &in); !opened.ok()) {
    return !required && opened.error() == ENOENT ? Status() : opened;
  }
  LineBlockReader reader(in);
  std::string_view block;
  bool stop = false;
  while (!stop && reader.Next(&block)) {
    if (!needle.empty()) {
      LineSpan span;
      for (size_t pos = 0; !stop && FindLineContaining(block, pos, needle, &span); pos = span.end) {
        stop = look(block.substr(span.start, span.end - span.start));
      }
      continue;
    }
    for (size_t pos = 0; pos < block.size() && !stop;) {
      size_t end = block.find('\n', pos);
      end = end == std::string_view::npos ? block.size() : end + 1;
      stop = look(block.substr(pos, end - pos));
      pos = end;
    }
  }
  const int error = stop ? 0 : reader.error();
  fclose(in);  // read only: nothing to lose
  return error != 0 ? Status::Error(error, data.PathOf(file)) : Status();
}

// The same from the file's end: the lines that contain |needle|, the last
// first. What the tool appends (paper info and imaging area lines) is
// found without reading the file whole when it was added last.
template <typename Look>
Status ForEachLineFromEnd(const DataSet& data, DataFile file, bool required,
                          std::string_view needle, Look look) {
  FILE* in;
  if (Status opened = data.OpenForReading(file, &in); !opened.ok()) {
    return !required && opened.error() == ENOENT ? Status() : opened;
  }
  ReverseLineBlockReader reader(fileno(in));
  std::string_view block;
  std::vector<LineSpan> spans;
  bool stop = false;
  while (!stop && reader.Previous(&block)) {
    spans.clear();
    LineSpan span;
    for (size_t pos = 0; FindLineContaining(block, pos, needle, &span); pos = span.end) {
      spans.push_back(span);
    }
    for (auto at = spans.rbegin(); at != spans.rend() && !stop; ++at) {
      stop = look(block.substr(at->start, at->end - at->start));
    }
  }
  const int error = stop ? 0 : reader.error();
  fclose(in);
  return error != 0 ? Status::Error(error, data.PathOf(file)) : Status();
}

// What every line that |value| can select holds, by name, identifier or
// as a standard medium: its longest run of bytes that LPRng's rewriting
// leaves as they are ("_" and "/" may stand for others). Empty if there
// is none: then every line must be looked at.
std::string_view Needle(std::string_view value) {
  std::string_view best;
  for (size_t pos = 0; pos < value.size();) {
    const size_t end = std::min(value.find_first_of("_/", pos), value.size());
    if (end - pos > best.size()) best = value.substr(pos, end - pos);
    pos = end + 1;
  }
  return best;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits with at most one point among them, as the filter always took a
// free size.
bool IsDecimal(std::string_view text) {
  size_t points = 0;
  for (char c : text) {
    if (c == '.') {
      ++points;
    } else if (!IsDigit(c)) {
      return false;
    }
  }
  return !text.empty() && points <= 1 && text != ".";
}

bool IsWhole(std::string_view text) {
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  return !text.empty();
}

bool IsNonZero(std::string_view number) {
  return number.find_first_of("123456789") != std::string_view::npos;
}

// "<W>x<H>" split at its first "x" into numbers |is_number| accepts.
bool SplitSize(std::string_view text, bool (*is_number)(std::string_view), std::string_view* w,
               std::string_view* h) {
  const size_t x = text.find('x');
  if (x == std::string_view::npos) return false;
  *w = text.substr(0, x);
  *h = text.substr(x + 1);
  return is_number(*w) && is_number(*h);
}

struct Entry {
  std::string id, name;
};

// The best of the entries shown to it, by the order FindMedium gives.
class EntryMatcher {
 public:
  explicit EntryMatcher(std::string_view value) : value_(value), by_id_(IsFormatId(value)) {}

  // Looks at an entry; true once no later one can do better.
  bool Look(std::string_view id, std::string_view name) {
    if (by_id_ && id == value_) {
      Take(kById, id, name);
      return true;
    }
    if (best_ >= kExact) return false;
    if (name == value_) {
      Take(kExact, id, name);
      return !by_id_;  // only an identifier would still come first
    }
    if (MatchesRewrittenName(name, value_)) {
      if (best_ == kNone) {
        Take(kRewritten, id, name);
      } else if (entry_.id != id || entry_.name != name) {
        several_ = true;
      }
    }
    return false;
  }

  bool found() const { return best_ != kNone && !(best_ == kRewritten && several_); }
  bool several() const { return best_ == kRewritten && several_; }
  const Entry& entry() const { return entry_; }

 private:
  enum Rank { kNone, kRewritten, kExact, kById };

  void Take(Rank rank, std::string_view id, std::string_view name) {
    best_ = rank;
    entry_ = {std::string(id), std::string(name)};
  }

  std::string_view value_;
  bool by_id_;  // the value is an identifier's syntax
  Rank best_ = kNone;
  bool several_ = false;
  Entry entry_;
};

// Where a custom format was found, and what the other files hold of it.
enum class FoundIn { kFuncList, kPaperInfo, kImagingArea };

// Keeps the Status of a read in *status: true if it succeeded.
bool Kept(Status* status, Status read) {
  *status = std::move(read);
  return status->ok();
}

// Fills |medium| for the custom format |entry|, reading only the files
// still to be asked whether they hold it. |area_line| is its first imaging
// area line where that was the file it was found in.
MediumAnswer DescribeFormat(const DataSet& data, const Entry& entry, FoundIn where,
                            std::string_view area_line, Medium* medium, Status* status) {
  const std::string& id = entry.id;
  bool in_paper = where == FoundIn::kPaperInfo;
  if (where == FoundIn::kFuncList &&
      !Kept(status, ForEachLineFromEnd(data, DataFile::kPaperInfo, false, id, [&](std::string_view line) {
        return in_paper = FormatIdIn(line) == id;
      }))) {
    return MediumAnswer::kFailed;
  }
  // The size as the listing gives it: the last imaging area line's, else
  // the identifier's own.
  int32_t width, height;
  SizeFromId(id, &width, &height);
  bool in_area = where == FoundIn::kImagingArea;
  bool readable = true;
  auto size_from = [&](std::string_view line) {
    int32_t w, h;
    readable = SizeFromImagingArea(line, FormatIdIn(line), &w, &h);
    if (readable) width = w, height = h;
  };
  if (in_area) {
    size_from(area_line);
  } else if (!Kept(status, ForEachLineFromEnd(data, DataFile::kImagingArea, false, id, [&](std::string_view line) {
               if (FormatIdIn(line) != id) return false;
               size_from(line);
               return in_area = true;
             }))) {
    return MediumAnswer::kFailed;
  }
  medium->name = entry.name;
  medium->size = std::to_string(width) + "x" + std::to_string(height);
  medium->id = id;
  medium->state.clear();
  AppendState(&medium->state, data.model(), where == FoundIn::kFuncList, in_paper, in_area,
              readable);
  return MediumAnswer::kFound;
}

MediumAnswer Size(std::string_view name, std::string_view w, std::string_view h,
                  std::string_view id, Medium* medium) {
  medium->name = name;
  medium->size = std::string(w) + "x" + std::string(h);
  medium->id = id;
  medium->state = "ok";
  return IsNonZero(w) && IsNonZero(h) ? MediumAnswer::kFound : MediumAnswer::kNoArea;
}

MediumAnswer Resolve(const DataSet& data, std::string_view value, Medium* medium,
                     Status* status) {
  medium->name = value;  // what any answer but kFound names
  std::string_view w, h;
  if (value.size() > 2 && value.substr(value.size() - 2) == "mm" &&
      SplitSize(value.substr(0, value.size() - 2), IsDecimal, &w, &h)) {
    return Size(value, w, h, "-", medium);
  }

  EntryMatcher matcher(value);
  std::string standard;
  bool standard_found = false;
  const std::string_view needle = Needle(value);
  if (!Kept(status, ForEachLine(data, DataFile::kFuncList, true, needle, [&](std::string_view line) {
        std::string_view id = FormatIdIn(line), name;
        if (!id.empty()) return EntryNameIn(line, id, &name) && matcher.Look(id, name);
        std::string_view text = Trimmed(line);
        if (!standard_found && text == value && text[0] != '[' && text[0] != '#') {
          standard_found = true;
          standard = text;
        }
        return false;
      }))) {
    return MediumAnswer::kFailed;
  }
  if (matcher.found()) return DescribeFormat(data, matcher.entry(), FoundIn::kFuncList, {}, medium, status);
  if (matcher.several()) return MediumAnswer::kSeveral;
  if (standard_found) {
    // Its last word, or the whole line where it is one word (as "29x90").
    const size_t blank = standard.find_last_of(" \t");
    std::string_view last = std::string_view(standard).substr(blank == std::string::npos ? 0 : blank + 1);
    if (!SplitSize(last, IsWhole, &w, &h)) {
      return MediumAnswer::kNoArea;  // a continuous tape: no length of its own
    }
    return Size(standard, w, h, standard, medium);
  }
  if (SplitSize(value, IsWhole, &w, &h)) return Size(value, w, h, "-", medium);

  // What only the paper info or imaging area file holds: an incomplete
  // format, which the answer says is one.
  EntryMatcher paper(value);
  if (!Kept(status, ForEachLine(data, DataFile::kPaperInfo, false, needle, [&](std::string_view line) {
        std::string_view id = FormatIdIn(line), name;
        return !id.empty() && EntryNameIn(line, id, &name) && paper.Look(id, name);
      }))) {
    return MediumAnswer::kFailed;
  }
  if (paper.found()) return DescribeFormat(data, paper.entry(), FoundIn::kPaperInfo, {}, medium, status);
  if (paper.several()) return MediumAnswer::kSeveral;
  if (!IsFormatId(value)) return MediumAnswer::kUnknown;
  std::string area_line;
  if (!Kept(status, ForEachLineFromEnd(data, DataFile::kImagingArea, false, value, [&](std::string_view line) {
        if (FormatIdIn(line) != value) return false;
        area_line = line;
        return true;
      }))) {
    return MediumAnswer::kFailed;
  }
  if (area_line.empty()) return MediumAnswer::kUnknown;
  return DescribeFormat(data, {std::string(value), ""}, FoundIn::kImagingArea, area_line, medium, status);
}

}  // namespace

bool MatchesRewrittenName(std::string_view stored, std::string_view given) {
  if (stored.size() != given.size()) return false;
  for (size_t i = 0; i < given.size(); ++i) {
    const char a = given[i], b = stored[i];
    const bool plain = IsDigit(b) || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                       b == ' ' || b == '\t';
    if (a == b || (a == '_' && !plain) || (a == '/' && b == '\\')) continue;
    return false;
  }
  return true;
}

MediumAnswer FindMedium(const DataSet& data, std::string_view value, Medium* medium,
                        Status* status) {
  *status = {};
  if (!value.empty()) return Resolve(data, value, medium, status);
  std::string fallback;
  bool named = false;
  if (!Kept(status, ForEachLine(data, DataFile::kRc, false, {}, [&](std::string_view line) {
        constexpr std::string_view kKey = "MediaSize=";
        if (line.substr(0, kKey.size()) != kKey) return false;
        fallback = Trimmed(line.substr(kKey.size()));
        return named = true;
      }))) {
    return MediumAnswer::kFailed;
  }
  if (!named || fallback.empty()) return MediumAnswer::kNoDefault;
  return Resolve(data, fallback, medium, status);
}
