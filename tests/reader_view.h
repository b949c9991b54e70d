#ifndef TESTS_READER_VIEW_H_
#define TESTS_READER_VIEW_H_

#include <string>
#include <vector>

#include "tests/test_util.h"

// The four data files of |data| as a reader sees them (the snapshot a
// listing or a print job takes), in TestData::Snapshot's order; a file that
// does not exist reads as empty. Fails the test if no snapshot is taken.
std::vector<std::string> ReaderView(const TestData& data);

#endif  // TESTS_READER_VIEW_H_
