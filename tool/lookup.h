#ifndef TOOL_LOOKUP_H_
#define TOOL_LOOKUP_H_

#include <cstdio>
#include <string>

#include "tool/data_set.h"

// Looks |name| up in data file |file|. A line holds an entry if it contains
// "KsL"; only the first "KsL" of a line is looked at, and the identifier is
// read as FormatIdIn reads it, the name as EntryNameIn does. The first entry
// whose name equals |name| byte for byte wins: ok, with *id. NotFound if
// there is none; a file that does not exist holds no entry. One that is
// refused (see OpenDataFile) or cannot be read to its end fails: the entry
// could be there.
Status FindFormatId(const DataSet& data, DataFile file, const char* name, std::string* id);

// The same lookup over an open stream.
Status FindFormatIdIn(FILE* in, const char* name, std::string* id);

// Whether a data file that holds entries has a line of the identifier |id|
// (the whole identifier, as FormatIdIn reads it): ok, or NotFound. Missing
// files hold none; other failures as for FindFormatId.
Status FindIdLine(const DataSet& data, const std::string& id);

// The same over an open stream.
Status FindIdLineIn(FILE* in, const std::string& id);

#endif  // TOOL_LOOKUP_H_
