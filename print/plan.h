#ifndef PRINT_PLAN_H_
#define PRINT_PLAN_H_

// How a job is printed: one Ghostscript run that makes the page the
// printer gets. Its device is the medium's size, fixed, so that every page
// it writes requests that size in its page setup; the job's page goes onto
// it through the device's Install procedure, as the page-fit selector's
// decision places it: where it fits, moved by the selector's offset; where
// it is larger, scaled down whole into what of the medium stays on the
// label once moved by that offset, and centred there.

#include <optional>
#include <string>
#include <vector>

#include "print/job_file.h"

// A medium in millimetres.
struct MediumSize {
  double width_mm = 0, height_mm = 0;
};

struct PrintPlan {
  // No size anywhere (a PostScript job that says none, and no medium): the
  // job goes as it is, Ghostscript only counting its pages.
  bool send_as_is = false;
  // The device's size in points, fixed; none: each page's own (a PDF whose
  // box is not seen, and no medium).
  std::optional<double> width, height;
  // A PDF whose page box is not seen, onto a medium: Ghostscript fits it to
  // the device first, and the transform below shrinks that into place.
  bool fit_first = false;
  // The Install transform: translate by (x, y) points, then scale.
  double x = 0, y = 0, scale = 1;
};

// The medium's size in points, to the thousandth, as the device gets it.
double MillimetresToPoints(double mm);

// Plans the job |job| onto |medium| (none: the job's own page), with the
// label length |length| in 1/300 inch if the job gives one (else the
// medium's or the page's). False, with the one line to report in *error,
// where the medium is too small to hold anything once the offset is taken,
// or larger than any page (kMaxPagePoints).
bool PlanJob(const JobInfo& job, const std::optional<MediumSize>& medium,
             std::optional<double> length, PrintPlan* plan, std::string* error);

// Ghostscript's arguments for |plan| (argv[0] aside): the job read from
// |input|, the page written to |output|, and PostScript after the job
// that fails the run, printing |no_page_marker| first, if it drew no page.
std::vector<std::string> GhostscriptArguments(const PrintPlan& plan, const std::string& input,
                                              const std::string& output,
                                              const std::string& no_page_marker);

#endif  // PRINT_PLAN_H_
