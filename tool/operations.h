#ifndef TOOL_OPERATIONS_H_
#define TOOL_OPERATIONS_H_

#include <cstdint>
#include <string>

#include "tool/format_request.h"
#include "tool/model_dir.h"

// The two operations on a model's driver data set, the install root and
// data directory of |dir|. Both first have the spooler-side tool do its part
// and touch no data file if it fails. Results are OperationResult values; on
// kOpOpenFailed errno says why, and data files handled before the failing
// one keep their new content.

// Removes the format named request.name: its lines leave the func list, the
// paper info and imaging area files, and an rc line naming it falls back to
// the default medium. kOpNotFound if the name is not in the func list or the
// paper info file.
int DeleteFormat(FormatRequest request, const ModelDir& dir);

// Enters a new format of request.name, width and height under a fresh
// identifier made from the time of day.
int AddFormat(FormatRequest request, const ModelDir& dir);

// As AddFormat, with the time of day given.
int AddFormatAt(FormatRequest request, const ModelDir& dir, int64_t seconds,
                long microseconds);

// The entry lines an add writes into the paper info and imaging area files.
// False if the size in dots does not fit 32 bits.
bool PaperInfoLine(const std::string& id, const char* name, int32_t width, int32_t height,
                   std::string* line);
std::string ImagingAreaLine(const std::string& id, int32_t width, int32_t height);

// The rc line that replaces a setting naming a deleted format.
inline constexpr const char kRcResetLine[] = "MediaSize=29x90\n";

#endif  // TOOL_OPERATIONS_H_
