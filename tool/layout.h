#ifndef TOOL_LAYOUT_H_
#define TOOL_LAYOUT_H_

// Where a model's driver lives under the install root, and which models
// there are: the one place the tool asks. The install rules
// (cmake/install.cmake) and the example filter follow the model table, and
// a test fails if they drift apart.
//
//   <root><model>/inf/<data files>     the driver's data set
//   <root><model>/lpd/kstapefmtcups    the driver's spooler-side tool
//   <root><model>/lpd/                 where the package installs the tool,
//                                      the selector and the filter

#include <string>

// The printer models, tested in this order against a program's name: the
// first key found in it picks the model's directory.
struct ModelRow {
  const char* key;
  const char* model;
};
inline constexpr ModelRow kModels[] = {
    {"210", "lx210"},
    {"220", "lx220"},
    {"230", "lx230"},
    {"240", "lx240pc"},
};

// The model directory name for the invocation name |argv0| (directory part
// included), or nullptr when no key occurs in it.
const char* DetectModel(const char* argv0);

// The data files of a model's data set.
enum class DataFile { kFuncList, kPaperInfo, kRc, kImagingArea };

// A data file's name in the model's data directory, such as "kslx230func".
std::string DataFileName(const std::string& model, DataFile file);

inline constexpr char kDataDirName[] = "inf";
inline constexpr char kLpdDirName[] = "lpd";
inline constexpr char kSpoolerToolName[] = "kstapefmtcups";

// Paths under the install root |root|, which ends with '/'.
std::string ModelPath(const std::string& root, const std::string& model);
std::string DataDirPath(const std::string& root, const std::string& model);
std::string LpdPath(const std::string& root, const std::string& model);
std::string SpoolerToolPath(const std::string& root, const std::string& model);

#endif  // TOOL_LAYOUT_H_
