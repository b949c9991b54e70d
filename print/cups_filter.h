#ifndef PRINT_CUPS_FILTER_H_
#define PRINT_CUPS_FILTER_H_

// The CUPS filter of an LX label printer's queue, named by the queue's PPD
// (*cupsFilter2): it takes the PostScript or PDF job and hands the printer
// the page it prints, as the LPRng filter does. The model comes from the
// PPD (*KestrelModel), the medium and limits from the job's options (with
// the queue's defaults cupsd adds), then the print job; the result is sent
// as many times as the job asks for copies. A job that cannot be printed
// writes one line, "ERROR: <reason>", which cupsd makes the job's state
// message (lpstat -l -o shows it), sends nothing and ends with status 1:
// cupsd stops that job and goes on with the next.

#include <cstdio>
#include <string>

// What cupsd puts in a filter's environment; null where it gives none.
struct CupsEnvironment {
  const char* ppd = nullptr;         // PPD: the queue's PPD file
  const char* temp_dir = nullptr;    // TMPDIR
  const char* path = nullptr;        // PATH, CUPS's filter directory first
  const char* server_bin = nullptr;  // CUPS_SERVERBIN
};

// The model directory the PPD at |ppd| names ("*KestrelModel: "lx230""),
// read no further than its first 1 MiB; false with the one line to report.
bool ModelOfPpd(const std::string& ppd, std::string* model, std::string* error);

// Where to look for Ghostscript: |path| without CUPS's filter directories
// (|server_bin|/filter, and the usual /usr/lib/cups/filter), which cupsd
// puts first and which are for filters, not for the programs they run.
std::string GhostscriptPath(const std::string& path, const std::string& server_bin);

// Waits, no longer than |max_ms|, until what was written to the pipe |fd|
// has been read from it; returns at once if |fd| is no pipe.
void AwaitReader(int fd, int max_ms);

// argv: queue, job id, user, title, copies, options[, file]. The job is
// |file|, else |in|. Returns the exit status.
int RunCupsFilter(int argc, const char* const* argv, const std::string& root,
                  const CupsEnvironment& env, int in, int out, FILE* err);

#endif  // PRINT_CUPS_FILTER_H_
