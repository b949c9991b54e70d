#ifndef TOOL_OPERATIONS_H_
#define TOOL_OPERATIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tool/data_set.h"
#include "tool/format_request.h"

// The two operations on a model's data set, opened for a change. Both first
// stage their change to the data files, then have the spooler-side tool do
// its part, and commit only if it succeeded: the data files change as one
// unit (all or nothing), and a data file that cannot be changed stops the
// run before the spooler side is touched.
// Each returns its Status: ok when done, SpoolerFailed when the
// spooler-side tool failed (it has spoken for itself), or the error.

// Removes the format named request.name. Its identifiers are those of the
// first entry of that name in the func list and in the paper info file
// (an interrupted run of an older version may have left them differing);
// if neither names it and the name is itself an identifier, that one. Every
// line of those identifiers leaves the func list, the paper info and
// imaging area files, and an rc setting naming one falls back to the
// default medium. NotFound if there is no such format.
Status DeleteFormat(FormatRequest request, DataSet& data);

// The identifiers a delete of request.name removes, as above: ok,
// NotFound, or the failure if a file could not be read. |*by_id|: the name
// was taken as an identifier.
Status FindFormatIds(const FormatRequest& request, const DataSet& data,
                  std::vector<std::string>* ids, bool* by_id);

// What both operations begin with: the spooler-side tool deletes
// request.name (SpoolerFailed if it fails).
Status RunSpoolerDelete(const FormatRequest& request, const DataSet& data);

// What removing the format of |ids| does to a data file of |lines|: its
// lines go, and an rc setting naming it is reset, or renamed to |new_id|
// when one is given (a replace keeps what pointed at the format).
LineEdit RemovalEdit(EntryLines lines, const std::vector<std::string>& ids,
                     const std::string& new_id);

// Stages the removal of |ids| from every data file; |*edited| counts the
// lines it changed.
Status StageRemoval(DataSet& data, const std::vector<std::string>& ids, size_t* edited);

// The time of day an identifier is made from, or why it cannot be read.
using TimeSource = Status (*)(int64_t* seconds, long* microseconds);
Status TimeOfDay(int64_t* seconds, long* microseconds);

// How often an add reads the time again when the identifier made from it is
// already in use.
inline constexpr int kIdTries = 100;

// Enters a new format of request.name, width and height under an
// identifier made from the time of day that no data file holds yet. A
// format of that name is replaced: the spooler-side tool deletes it, then
// adds the new one, and the files change once, all or nothing, with rc
// settings that named the old format naming the new one. If the tool
// refuses the new one, the removal alone is made, and SpoolerFailed.
Status AddFormat(FormatRequest request, DataSet& data, TimeSource now = TimeOfDay);

#endif  // TOOL_OPERATIONS_H_
