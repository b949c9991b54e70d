#include "lineio/string_printf.h"

#include <cstdarg>
#include <cstdio>

std::string StringPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int size = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out;
  if (size > 0) {
    out.resize(static_cast<size_t>(size) + 1);
    vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<size_t>(size));
  }
  va_end(again);
  return out;
}
