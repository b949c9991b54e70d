#ifndef TOOL_ONE_PASS_H_
#define TOOL_ONE_PASS_H_

// Staging a change reading each data file once: the common delete and the
// common add. While a file is copied, its pass looks for the format of the
// name, leaves out its lines and, for an add, checks that no line holds
// the new identifier and enters the new format. What one pass cannot do
// exactly is left to the general way (operations.h), which looks first.

#include <string>
#include <string_view>

#include "tool/data_set.h"
#include "tool/status.h"

// The new format an add enters.
struct NewEntry {
  std::string id;
  std::string func_line, paper_line, area_line;
};

enum class OnePass {
  kStaged,     // the change is staged; *old_id is the format replaced, if any
  kNotFound,   // a delete: no file names the format (nothing staged)
  kIdInUse,    // an add: a line holds the new identifier (nothing staged)
  kStartOver,  // the general way must do it (nothing staged)
  kFailed,     // *status says why (nothing staged)
};

// Stages the removal of the format named |name|, the first entry of that
// name in the func list, from every data file (an rc setting naming it is
// reset, or, for an add, renamed to the new identifier), and, if |entry|
// is given, the entry of the new format. kStartOver where one pass would
// not be exact: the old format named in the paper info file alone or
// under another identifier, or a line of it before its entry in the func
// list.
OnePass StageOnce(DataSet& data, std::string_view name, const NewEntry* entry,
                  std::string* old_id, Status* status);

#endif  // TOOL_ONE_PASS_H_
