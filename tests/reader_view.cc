#include "tests/reader_view.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "tool/data_set.h"

std::vector<std::string> ReaderView(const TestData& data) {
  DataSet set(data.root, data.model.c_str());
  const Status opened = set.Open(DataSet::Access::kRead);
  EXPECT_TRUE(opened.ok()) << opened.Message();
  std::vector<std::string> view;
  for (DataFile file : {DataFile::kFuncList, DataFile::kPaperInfo, DataFile::kRc,
                        DataFile::kImagingArea}) {
    FILE* in;
    std::string content;
    const Status status = set.OpenForReading(file, &in);
    if (status.ok()) {
      char buffer[65536];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) content.append(buffer, n);
      fclose(in);
    } else {
      EXPECT_EQ(status.error(), ENOENT) << status.Message();
    }
    view.push_back(content);
  }
  return view;
}
