#ifndef LINEIO_STRING_PRINTF_H_
#define LINEIO_STRING_PRINTF_H_

#include <string>

// printf into a string of whatever length the result needs.
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // LINEIO_STRING_PRINTF_H_
