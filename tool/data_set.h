#ifndef TOOL_DATA_SET_H_
#define TOOL_DATA_SET_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "lineio/rewrite.h"
#include "tool/format_request.h"
#include "tool/model_dir.h"

// The files of one model's driver data set, under the install root.
enum class DataFile { kSpoolerTool, kFuncList, kPaperInfo, kRc, kImagingArea };

// The func list's section header; user formats go directly after it.
inline constexpr const char kCustomTapeHeader[] = "[CustomTape]";

// Builds the path of |file| for |request|'s model under |root| into the
// request's path scratch. False (errno ENAMETOOLONG) if it does not fit.
bool BuildPath(FormatRequest* request, const std::string& root, DataFile file);

// Name of a data file (not the spooler-side tool) within the model's data
// directory, such as "kslx230func".
std::string DataFileName(const std::string& model, DataFile file);

// A new format identifier: "KsL", then the name length, width, height (low 12
// bits), seconds (low 4 bits) and microseconds (low 16 bits) in upper-case
// hex. 15 characters for widths below 256 mm, more for wider ones.
std::string MakeFormatId(int name_length, int32_t width, int32_t height, int64_t seconds,
                         long microseconds);

// How a line names a format, looked at up to its first zero byte and its
// newline. The identifier: the line's first "KsL" and the run of upper-case
// hex digits after it (at least 12); empty if the line has none.
std::string_view FormatIdIn(std::string_view line);

// The entry's name: as many bytes as the identifier's fourth and fifth
// characters give in hex, after the one separator character that follows
// the identifier |id| (found in |line| by FormatIdIn). False if the line
// ends first.
bool EntryNameIn(std::string_view line, std::string_view id, std::string_view* name);

// Opens data file |file| of |dir| for reading as OpenDataFile does. Null
// with errno set; if the directory did not open, its error.
FILE* OpenModelFile(const ModelDir& dir, DataFile file);

enum class Lookup { kFound, kNotFound, kFailed };

// Looks |name| up in data file |file| of |dir|. A line holds an entry if it
// contains "KsL"; only the first "KsL" of a line is looked at. The identifier
// is "KsL" and the run of upper-case hex digits after it (at least 12); its
// fourth and fifth characters give the name length L in hex, and the name is
// the L bytes after the one separator character that follows. The first
// entry whose name equals |name| byte for byte wins. A file that does not
// open, or is refused as OpenDataFile refuses it, holds no entry. kFailed,
// with errno set, for a read error or a line longer than kLineMax: the file
// could hold the entry further on.
Lookup FindFormatId(const ModelDir& dir, DataFile file, const char* name, std::string* id);

// The same lookup over an open stream.
Lookup FindFormatIdIn(FILE* in, const char* name, std::string* id);

// RewriteInPlace on data file |file| of |dir|: -1 with errno set on failure.
int RewriteDataFile(const ModelDir& dir, DataFile file, const LineEdit& edit,
                    const std::string& append);

#endif  // TOOL_DATA_SET_H_
