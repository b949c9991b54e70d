#ifndef TOOL_LOOKUP_H_
#define TOOL_LOOKUP_H_

#include <cstdio>
#include <string>

#include "tool/data_set.h"

enum class Lookup { kFound, kNotFound, kFailed };

// Looks |name| up in data file |file|. A line holds an entry if it contains
// "KsL"; only the first "KsL" of a line is looked at, and the identifier is
// read as FormatIdIn reads it, the name as EntryNameIn does. The first entry
// whose name equals |name| byte for byte wins. A file that does not exist
// holds no entry; one that is refused (see OpenDataFile) or cannot be read
// to its end is kFailed, with errno set: the entry could be there.
Lookup FindFormatId(const DataSet& data, DataFile file, const char* name, std::string* id);

// The same lookup over an open stream.
Lookup FindFormatIdIn(FILE* in, const char* name, std::string* id);

// Whether a data file that holds entries has a line of the identifier |id|
// (the whole identifier, as FormatIdIn reads it). Missing files hold none;
// other failures as for FindFormatId.
Lookup FindIdLine(const DataSet& data, const std::string& id);

// The same over an open stream.
Lookup FindIdLineIn(FILE* in, const std::string& id);

#endif  // TOOL_LOOKUP_H_
