#include "tool/layout.h"

#include <cstring>

const char* DetectModel(const char* argv0) {
  for (const ModelRow& row : kModels) {
    if (strstr(argv0, row.key) != nullptr) return row.model;
  }
  return nullptr;
}

std::string DataFileName(const std::string& model, DataFile file) {
  switch (file) {
    case DataFile::kFuncList: return "ks" + model + "func";
    case DataFile::kPaperInfo: return "paperinf" + model + "pt1";
    case DataFile::kRc: return "ks" + model + "rc";
    case DataFile::kImagingArea: return "ImagingArea";
  }
  return "";
}

std::string ModelPath(const std::string& root, const std::string& model) { return root + model; }

std::string DataDirPath(const std::string& root, const std::string& model) {
  return ModelPath(root, model) + "/" + kDataDirName;
}

std::string LpdPath(const std::string& root, const std::string& model) {
  return ModelPath(root, model) + "/" + kLpdDirName;
}

std::string SpoolerToolPath(const std::string& root, const std::string& model) {
  return LpdPath(root, model) + "/" + kSpoolerToolName;
}
