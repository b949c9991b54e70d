#ifndef TOOL_LIST_FORMATS_H_
#define TOOL_LIST_FORMATS_H_

#include <cstdio>

#include "tool/data_set.h"

// Writes the custom formats of |data|'s model to |out|, one line each, fields
// separated by a tab: "<name>\t<W>x<H>\t<identifier>\t<state>\n".
//
// First each entry of the func list, in file order; then each identifier
// that has a line in the paper info or imaging area file but no entry in
// the func list (paper info order first, each once), named by its paper
// info line if it has one. W and H are the size in mm from the identifier's
// imaging area line, or from the identifier's own width and height fields.
// The state is "ok", or "missing: " and the files that lack the identifier.
// Names are written as stored, but for control bytes, written as \xNN.
//
// Returns 0, or -1 with errno set if the func list does not open or any of
// the files cannot be read (a missing paper info or imaging area file just
// holds no lines); nothing is written then, unless a file changed while it
// was read. Changes no file.
int ListFormats(const DataSet& data, FILE* out);

#endif  // TOOL_LIST_FORMATS_H_
