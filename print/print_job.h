#ifndef PRINT_PRINT_JOB_H_
#define PRINT_PRINT_JOB_H_

// One print job, from the job on the filter's standard input to what the
// printer gets on its standard output, for any spooler's front end: the
// medium the job or its queue names (else the model's default, else the
// job's own page), resolved against the data set as the label-format
// tool's -m resolves it; the job's kind and page; the plan; one
// Ghostscript run within the job's limits, in a directory of the job's own
// that goes with it; the checks that the run made a page; the page sent.
// Nothing is sent unless all of that succeeded.

#include <optional>
#include <string>

#include "print/job_options.h"

struct PrintSettings {
  std::string root;    // the driver's install root, ending with '/'
  std::string model;   // the model's directory name, such as "lx230"
  std::string medium;  // what the job or its queue names; empty: the model's default
  std::optional<double> length;  // the label length the job gives, 1/300 inch
  JobLimits limits;
  int copies = 1;           // how many times what the printer gets is sent
  std::string temp_dir;     // where the job's directory is made
  std::string ghostscript;  // the program, a path or a name looked up in |path|
  std::string path;         // the PATH to look it up in
};

// Prints the job read from |in| onto |out|. True if it was sent; false
// with the one line that says why (the limit it went over, the medium it
// could not find, what Ghostscript said) in *reason, nothing sent.
bool PrintJob(const PrintSettings& settings, int in, int out, std::string* reason);

// The marker Ghostscript prints, after the job, when it drew no page.
inline constexpr char kNoPageMarker[] = "%%[ lx-filter: the job drew no page ]%%";

// What a Ghostscript run that failed, or made no page, came to, from the
// log of its messages, for a job of kind |pdf| or not: empty if nothing
// says it failed.
std::string GhostscriptProblem(const std::string& log, bool exited_zero, bool pdf);

#endif  // PRINT_PRINT_JOB_H_
