#ifndef TOOL_FIND_MEDIUM_H_
#define TOOL_FIND_MEDIUM_H_

// The medium a print job asks for, by whatever the print filter was given
// (-Z media=, the queue's ks_media, or nothing), resolved against the data
// set: the one question the filter has of it.

#include <string>
#include <string_view>

#include "tool/data_set.h"
#include "tool/status.h"

struct Medium {
  std::string name;   // as stored in the data set, or as given
  std::string size;   // "<W>x<H>" in mm, decimals kept for a free size
  std::string id;     // its identifier, a standard medium's func list line, or "-"
  std::string state;  // "ok", or "missing: " and the data files that lack it
};

enum class MediumAnswer {
  kFound,
  kNoDefault,  // nothing asked for and the rc file names no medium
  kUnknown,    // no medium of the data set, and no size
  kSeveral,    // an LPRng-rewritten name that fits more than one format
  kNoArea,     // a size of zero width or length
  kFailed,     // a data file refused or unreadable: the Status says why
};

// Resolves |value|, first match wins:
//   - empty: the model's default, the value of the rc file's first
//     "MediaSize=" line (its line ending aside), resolved as below;
//   - a free size "<W>x<H>mm", W and H decimal numbers: that size;
//   - a custom format of the func list: by its identifier; else by its
//     name, byte for byte; else by its name as LPRng rewrites a job option
//     ("_" for any one byte but a letter, a digit or a blank, "/" also for
//     "\"), if that fits one format only;
//   - a standard medium, one of the func list's other lines, such as
//     "DK11201 29x90": its size is its last word's;
//   - a size "<W>x<H>" in whole mm;
//   - a format that only the paper info file names, or only the imaging
//     area file holds (by identifier), matched as in the func list: found,
//     with the state saying what it lacks.
// A format's size is its first imaging area line's, else its identifier's.
// Each data file is read at most once, and no further than the match where
// the order above allows; files are opened as every data file is.
MediumAnswer FindMedium(const DataSet& data, std::string_view value, Medium* medium,
                        Status* status);

// Whether |given| is |stored| as LPRng rewrites it in a job option.
bool MatchesRewrittenName(std::string_view stored, std::string_view given);

#endif  // TOOL_FIND_MEDIUM_H_
