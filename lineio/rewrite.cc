#include "lineio/rewrite.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "lineio/line_blocks.h"
#include "lineio/write_all.h"

namespace {

// Where a rewrite writes its copy. It keeps the first failure, so the pieces
// are written without checking each one.
class RewriteSink {
 public:
  RewriteSink(FILE* out, size_t byte_limit) : out_(out), byte_limit_(byte_limit) {}

  // Writes one or more whole lines. If the piece before ended without a
  // newline (a data file whose last line had none), a newline goes first:
  // an entry must never join another line.
  void WriteLine(const char* data, size_t size);
  void WriteLine(const std::string& text) { WriteLine(text.data(), text.size()); }

  bool failed() const { return error_ != 0; }
  int error() const { return error_; }

 private:
  void Write(const char* data, size_t size);

  FILE* out_;
  size_t byte_limit_;
  size_t written_ = 0;
  bool open_line_ = false;  // the last byte written was not a newline
  int error_ = 0;
};

void RewriteSink::Write(const char* data, size_t size) {
  if (failed() || size == 0) return;
  size_t allowed = byte_limit_ - written_ < size ? byte_limit_ - written_ : size;
  errno = 0;
  size_t done = WriteAll(data, allowed, out_);
  written_ += done;
  if (done != allowed || ferror(out_)) {
    error_ = errno != 0 ? errno : EIO;
    return;
  }
  if (allowed < size) {
    error_ = ENOSPC;
    return;
  }
  open_line_ = data[size - 1] != '\n';
}

void RewriteSink::WriteLine(const char* data, size_t size) {
  if (size == 0) return;
  if (open_line_) Write("\n", 1);
  Write(data, size);
}

// Whether |line| (up to its first zero byte) holds |needle|.
bool Holds(std::string_view line, std::string_view needle) {
  LineSpan span;
  return FindLineContaining(line, 0, needle, &span);
}

std::string_view NeedleOf(const LineEdit& edit) {
  return edit.watch != nullptr ? std::string_view(*edit.watch) : std::string_view(edit.needle);
}

// The first of |edits| that applies to |line|, or null.
const LineEdit* EditFor(std::string_view line, const std::vector<LineEdit>& edits) {
  for (const LineEdit& edit : edits) {
    const std::string_view needle = NeedleOf(edit);
    if (!needle.empty() && Holds(line, needle) && (!edit.applies || edit.applies(line))) {
      return &edit;
    }
  }
  return nullptr;
}

// Copies the run of whole lines |lines| through |edits|. Only lines that
// hold a needle are looked at one by one; the runs between them are written
// in bulk. One pass finds the next line holding any needle; the needles are
// taken afresh after each such line, as an edit may have learnt one.
void EditLines(std::string_view lines, const std::vector<LineEdit>& edits, RewriteSink* sink,
               size_t* edited) {
  std::vector<std::string_view> needles(edits.size());
  size_t pos = 0;   // the first byte not yet written
  size_t from = 0;  // where the search goes on
  while (!sink->failed()) {
    for (size_t i = 0; i < edits.size(); ++i) needles[i] = NeedleOf(edits[i]);
    LineSpan span;
    if (!FindLineContainingAny(lines, from, needles.data(), needles.size(), &span)) break;
    const std::string_view line = lines.substr(span.start, span.end - span.start);
    const LineEdit* edit = EditFor(line, edits);
    from = span.end;
    if (edit == nullptr) continue;  // not one of ours after all: it goes out with its run
    ++*edited;
    sink->WriteLine(lines.data() + pos, span.start - pos);
    switch (edit->action) {
      case LineEdit::Action::kCopy: sink->WriteLine(line.data(), line.size()); break;
      case LineEdit::Action::kDrop: break;
      case LineEdit::Action::kReplace:
        sink->WriteLine(edit->replacement ? edit->replacement(line) : edit->text);
        break;
      case LineEdit::Action::kInsertAfter:
        sink->WriteLine(line.data(), line.size());
        sink->WriteLine(edit->text);
        break;
    }
    pos = from;
  }
  sink->WriteLine(lines.data() + pos, lines.size() - pos);
}

}  // namespace

int CopyEdited(FILE* in, FILE* out, const std::vector<LineEdit>& edits, const std::string& append,
               size_t byte_limit, size_t* edited) {
  size_t count = 0;
  if (edited == nullptr) edited = &count;
  *edited = 0;
  RewriteSink sink(out, byte_limit);
  // Blocks of 1 MiB: a copy of tens of megabytes makes a few dozen reads.
  LineBlockReader reader(in, 1024 * 1024);
  std::string_view lines;
  while (!sink.failed() && reader.Next(&lines)) EditLines(lines, edits, &sink, edited);
  int error = sink.failed() ? sink.error() : reader.error();
  if (error == 0) {
    sink.WriteLine(append);
    error = sink.error();
  }
  return error;
}
