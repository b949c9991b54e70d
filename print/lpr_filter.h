#ifndef PRINT_LPR_FILTER_H_
#define PRINT_LPR_FILTER_H_

// The LPRng input filter (:if=) of an LX label printer's queue: the model
// from the filter's own name (as the label-format tool's), the job's
// options from lpd's arguments, the queue's from its printcap entry, then
// the print job. A job that cannot be printed writes one line to standard
// error, "<filter>: <reason>", which lpq -L shows, sends nothing and ends
// with status 2 (lpd then removes it).

#include <cstdio>
#include <string>

// |printcap_entry|, |temp_dir| and |path| are what the environment gives
// (PRINTCAP_ENTRY, TMPDIR, PATH); null where it gives none. Returns the
// exit status.
int RunLprFilter(int argc, const char* const* argv, const std::string& root,
                 const char* printcap_entry, const char* temp_dir, const char* path, int in,
                 int out, FILE* err);

#endif  // PRINT_LPR_FILTER_H_
