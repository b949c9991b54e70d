#include "tool/layout.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tool/data_set.h"

namespace {

TEST(LayoutTest, PathsAndNamesUnderTheRoot) {
  const std::string root = "/opt/kestrel/Tavlix/";
  EXPECT_EQ(DataDirPath(root, "lx230"), "/opt/kestrel/Tavlix/lx230/inf");
  EXPECT_EQ(SpoolerToolPath(root, "lx240pc"), "/opt/kestrel/Tavlix/lx240pc/lpd/kstapefmtcups");
  EXPECT_EQ(DataFileName("lx230", DataFile::kFuncList), "kslx230func");
  EXPECT_EQ(DataFileName("lx230", DataFile::kPaperInfo), "paperinflx230pt1");
  EXPECT_EQ(DataFileName("lx230", DataFile::kRc), "kslx230rc");
  EXPECT_EQ(DataFileName("lx230", DataFile::kImagingArea), "ImagingArea");
  FormatRequest request{};
  strcpy(request.model, "lx230");
  ASSERT_TRUE(BuildSpoolerToolPath(&request, root).ok());
  EXPECT_STREQ(request.path, "/opt/kestrel/Tavlix/lx230/lpd/kstapefmtcups");
  EXPECT_EQ(BuildSpoolerToolPath(&request, std::string(1100, 'r')).error(), ENAMETOOLONG);
}

// The install rules name the models as this table does (the filter and the
// tool pick theirs from it): they must not drift.
TEST(LayoutTest, TheInstallRulesFollowTheModelTable) {
  std::vector<std::string> models;
  for (const ModelRow& row : kModels) models.push_back(row.model);
  std::ifstream install(KS_SOURCE_DIR "/cmake/install.cmake");
  std::vector<std::string> installed;
  const std::regex set_models(R"(^set\(KS_MODELS ([^)]*)\))");
  for (std::string line; std::getline(install, line);) {
    std::smatch m;
    if (!std::regex_search(line, m, set_models)) continue;
    std::istringstream words(m[1].str());
    for (std::string word; words >> word;) installed.push_back(word);
  }
  EXPECT_EQ(installed, models) << "cmake/install.cmake: set(KS_MODELS ...)";
}

}  // namespace
