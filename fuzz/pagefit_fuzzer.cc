// The selector's decision over arbitrary page-size files and lengths.
// Input: the length argument up to the first newline, then the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pagefit/page_fit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t eol = input.find('\n');
  std::string length = eol == std::string::npos ? input : input.substr(0, eol);
  std::string content = eol == std::string::npos ? "" : input.substr(eol + 1);
  double l = strtod(length.c_str(), nullptr);

  std::string kept;
  if (!content.empty()) {
    FILE* in = fmemopen(content.data(), content.size(), "rb");
    if (in == nullptr) return 0;
    kept = ReadPageSizeLine(in);
    fclose(in);
  }
  std::string out = PageFitDecision(kept, l, "psfit", "in.ps", "out.ps");
  if (out.rfind("PSCOMMAND=", 0) != 0 || out.back() == '\n') abort();
  bool fit = out.rfind("PSCOMMAND=psfit\nCMDARGV=-w", 0) == 0;
  bool copy = out == "PSCOMMAND=cp\nCMDARGV=-f in.ps out.ps";
  if (fit == copy) abort();
  return 0;
}
