#ifndef TOOL_LIST_FORMATS_H_
#define TOOL_LIST_FORMATS_H_

#include <cstdio>

#include "tool/data_set.h"
#include "tool/status.h"

// Writes the custom formats of |data|'s model to |out|, one line each, fields
// separated by a tab: "<name>\t<W>x<H>\t<identifier>\t<state>\n".
//
// First each entry of the func list, in file order; then each identifier
// that has a line in the paper info or imaging area file but no entry in
// the func list (paper info order first, each once), named by its paper
// info line if it has one. W and H are the size in mm from the identifier's
// last imaging area line, or from the identifier's own width and height
// fields. The state is as AppendState writes it. Names are written as
// Printable writes them.
//
// Time is linear in the size of the files whatever they hold (identifiers
// are found through a hash keyed at random for each run), and memory about
// ten bytes a format; running out of memory is an error (ENOMEM), not an
// abort.
//
// Each file is read once, the paper info and imaging area files once more
// only where they hold identifiers that the func list lacks.
//
// Fails if the func list does not open or any of the files cannot be read
// (a missing paper info or imaging area file just holds no lines). Nothing
// is written then, but for the func list's entries before a line it cannot
// read (a line longer than kLineMax, a read error). Changes no file.
Status ListFormats(const DataSet& data, FILE* out);

#endif  // TOOL_LIST_FORMATS_H_
