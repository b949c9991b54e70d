#include "pagefit/page_fit.h"

#include <cstdlib>
#include <cstring>

#include "lineio/line_reader.h"
#include "lineio/string_printf.h"
#include "lineio/write_all.h"

namespace {

// Page offset to the left, in inches.
constexpr double kOffsetX = -0.06;
// 3 mm in inches.
constexpr double kThreeMmInches = 0.11811023622047245;

}  // namespace

std::string ReadPageSizeLine(FILE* in) {
  std::string kept;
  LineBuffer line;
  while (ReadLine(&line, in) > 0 && LineContains(line, "PageSize")) {
    kept.assign(line.data, line.length);
  }
  return kept;
}

void PageSizeOf(const std::string& kept_line, float* width, float* height) {
  // Looked at up to its first zero byte, like any line.
  std::string text(kept_line.c_str());
  *width = *height = 0;
  size_t open = text.find('[');
  if (open != std::string::npos) {
    size_t close = text.find(']', open + 1);
    if (close != std::string::npos) {
      std::string inside = text.substr(open + 1, close - open - 1);
      sscanf(inside.c_str(), "%f %f", width, height);
    }
  }
}

PageFit DecidePageFit(float width, float height, double length) {
  PageFit decision;
  if (width != 0 || height != 0) {
    decision.fit = true;
    decision.width = width;
    decision.height = height;
    decision.x = kOffsetX;
    double y = length / 300.0;
    y = y - static_cast<double>(height) / 72.0;
    decision.y = y + kThreeMmInches;
  }
  return decision;
}

std::string PageFitDecision(const std::string& kept_line, double length, const char* command,
                            const char* input, const char* output) {
  float width, height;
  PageSizeOf(kept_line, &width, &height);
  const PageFit decision = DecidePageFit(width, height, length);
  if (decision.fit) {
    return StringPrintf("PSCOMMAND=%s\nCMDARGV=-w%f -h%f 1:0@1.0(%fin,%fin) %s %s", command,
                        static_cast<double>(decision.width), static_cast<double>(decision.height),
                        decision.x, decision.y, input, output);
  }
  return StringPrintf("PSCOMMAND=cp\nCMDARGV=-f %s %s", input, output);
}

int RunPageFit(int argc, const char* const* argv, FILE* out, FILE* err) {
  if (argc != 11) return 0;
  double length = strtod(argv[6], nullptr);
  FILE* in = fopen(argv[10], "rb");
  if (in == nullptr) {
    static const char kError[] = "ERROR:kspagefit terminates.\n";
    WriteAll(kError, sizeof(kError) - 1, err);
    return 0;
  }
  std::string kept = ReadPageSizeLine(in);
  fclose(in);
  std::string decision = PageFitDecision(kept, length, argv[7], argv[8], argv[9]);
  WriteAll(decision.data(), decision.size(), out);
  return 0;
}
