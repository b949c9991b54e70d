#ifndef TOOL_FORMAT_REQUEST_H_
#define TOOL_FORMAT_REQUEST_H_

#include <cstdint>

// Longest label-format name, in bytes; also the figure in the usage text.
inline constexpr int kNameMax = 32;
// Longest queue name, in bytes.
inline constexpr int kQueueMax = 1023;

// What one run of the tool was asked to do. Zero-filled before parsing, so
// every text is an empty, terminated string until set. Each operation gets
// its own copy, so the path one builds is not seen by the next.
struct FormatRequest {
  char path[1024];   // scratch: the data file an operation is working on
  char model[1024];  // model directory name, such as "lx230"
  char queue[1024];  // spooler queue, 1 to kQueueMax bytes
  char name[68];     // label-format name, 1 to kNameMax bytes
  int32_t width;     // label width in mm, at least 1
  int32_t height;    // label length in mm, at least 1
};

#endif  // TOOL_FORMAT_REQUEST_H_
