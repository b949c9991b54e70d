// Prints identifiers, entry lines and selector decisions over a wide range
// of inputs. Two builds (say 64-bit and 32-bit x86) must print the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "pagefit/page_fit.h"
#include "tool/format_id.h"
#include "tool/format_id.h"

namespace {

void Sizes(int32_t width, int32_t height) {
  std::string id = MakeFormatId(5, width, height, width, height);
  std::string paper;
  if (!PaperInfoLine(id, "Label", width, height, &paper)) paper = "overflow\n";
  fputs(paper.c_str(), stdout);
  fputs(ImagingAreaLine(id, width, height).c_str(), stdout);
}

}  // namespace

int main() {
  for (int32_t mm = 1; mm <= 20000; ++mm) Sizes(mm, mm);
  for (int32_t mm = 20000; mm < 182000000; mm = mm / 3 * 4 + 7) Sizes(mm, mm + 1);
  Sizes(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max());
  const char* lengths[] = {"0", "1", "299.5", "600", "1024", "1e5", "-42"};
  for (double points = 0; points <= 1000; points += 0.25) {
    for (const char* length : lengths) {
      std::string line = "PageSize[" + std::to_string(points) + " " +
                         std::to_string(1000 - points) + "]\n";
      puts(PageFitDecision(line, strtod(length, nullptr), "f", "i", "o").c_str());
    }
  }
  return 0;
}
