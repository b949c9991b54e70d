#ifndef TOOL_DATA_SET_H_
#define TOOL_DATA_SET_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "tool/format_request.h"

// The files of one model's driver data set, under the install root.
enum class DataFile { kSpoolerTool, kFuncList, kPaperInfo, kRc, kImagingArea };

// Builds the path of |file| for |request|'s model under |root| into the
// request's path scratch. False (errno ENAMETOOLONG) if it does not fit.
bool BuildPath(FormatRequest* request, const std::string& root, DataFile file);

// Directory holding the model's data files ("<root><model>/inf").
std::string DataDirectory(const std::string& root, const char* model);

// A new format identifier: "KsL", then the name length, width, height (low 12
// bits), seconds (low 4 bits) and microseconds (low 16 bits) in upper-case
// hex. 15 characters for widths below 256 mm, more for wider ones.
std::string MakeFormatId(int name_length, int32_t width, int32_t height, long seconds,
                         long microseconds);

// Looks |name| up in the data file at |path|. A line holds an entry if it
// contains "KsL"; only the first "KsL" of a line is looked at. The identifier
// is "KsL" and the run of upper-case hex digits after it (at least 12); its
// fourth and fifth characters give the name length L in hex, and the name is
// the L bytes after the one separator character that follows. The first
// entry whose name equals |name| byte for byte wins. A file that does not
// open holds no entry.
bool FindFormatId(const char* path, const char* name, std::string* id);

// The same lookup over an open stream.
bool FindFormatIdIn(FILE* in, const char* name, std::string* id);

#endif  // TOOL_DATA_SET_H_
