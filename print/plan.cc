#include "print/plan.h"

#include <algorithm>
#include <cmath>

#include "lineio/string_printf.h"
#include "pagefit/page_fit.h"

namespace {

// Thousandths, rounded: the figures the filter always gave the selector.
double Thousandths(double value) { return std::round(value * 1000.0) / 1000.0; }

// A page is larger than the medium only by more than this (points): a page
// of the medium's own size, written with fewer decimals, fits.
constexpr double kFitSlack = 0.01;

}  // namespace

double MillimetresToPoints(double mm) { return Thousandths(mm / 25.4 * 72.0); }

bool PlanJob(const JobInfo& job, const std::optional<MediumSize>& medium,
             std::optional<double> length, PrintPlan* plan, std::string* error) {
  *plan = {};
  const bool pdf = job.kind == JobKind::kPdf;
  if (!medium) {
    if (!job.box) {
      if (!pdf) {
        plan->send_as_is = true;
        return true;
      }
      // Each page its own size; the label length is the page's, so the
      // selector's offset upwards is its 3 mm alone.
      const PageFit fit = DecidePageFit(1, 0, 0);
      plan->x = fit.x * 72.0;
      plan->y = fit.y * 72.0;
      return true;
    }
    const double width = job.box->width(), height = job.box->height();
    const PageFit fit = DecidePageFit(static_cast<float>(width), static_cast<float>(height),
                                      length.value_or(std::round(height / 72.0 * 300.0)));
    plan->width = fit.width;
    plan->height = fit.height;
    plan->x = fit.x * 72.0;
    plan->y = fit.y * 72.0;
    return true;
  }

  const double width = MillimetresToPoints(medium->width_mm);
  const double height = MillimetresToPoints(medium->height_mm);
  if (!(width <= kMaxPagePoints && height <= kMaxPagePoints)) {
    *error = "the medium is too large to print on";
    return false;
  }
  const PageFit fit = DecidePageFit(static_cast<float>(width), static_cast<float>(height),
                                    length.value_or(Thousandths(medium->height_mm / 25.4 * 300.0)));
  plan->width = fit.width;
  plan->height = fit.height;
  const bool scaled = job.box ? job.box->width() > width + kFitSlack ||
                                    job.box->height() > height + kFitSlack
                              : pdf;
  if (!scaled) {
    plan->x = fit.x * 72.0;
    plan->y = fit.y * 72.0;
    return true;
  }
  // What stays on the label once the page is moved by the offset, and where
  // that part begins.
  const double area_width = width - std::fabs(fit.x) * 72.0;
  const double area_height = height - std::fabs(fit.y) * 72.0;
  const double area_x = std::max(fit.x, 0.0) * 72.0, area_y = std::max(fit.y, 0.0) * 72.0;
  if (area_width <= 1 || area_height <= 1) {
    *error = "the medium is too small to print on";
    return false;
  }
  if (!job.box) {
    // Fitted to the whole medium first, then shrunk into the part.
    plan->fit_first = true;
    plan->scale = std::min(area_width / width, area_height / height);
    plan->x = area_x;
    plan->y = area_y;
    return true;
  }
  const PageBox& box = *job.box;
  plan->scale = std::min(area_width / box.width(), area_height / box.height());
  // A PDF's box begins where Ghostscript puts its origin; a PostScript
  // page's marks where its %%BoundingBox says.
  const double origin_x = pdf ? 0 : box.llx, origin_y = pdf ? 0 : box.lly;
  plan->x = area_x + (area_width - box.width() * plan->scale) / 2 - origin_x * plan->scale;
  plan->y = area_y + (area_height - box.height() * plan->scale) / 2 - origin_y * plan->scale;
  return true;
}

std::vector<std::string> GhostscriptArguments(const PrintPlan& plan, const std::string& input,
                                              const std::string& output,
                                              const std::string& no_page_marker) {
  std::vector<std::string> args = {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE"};
  if (plan.send_as_is) {
    args.push_back("-sDEVICE=nullpage");
  } else {
    args.push_back("-sDEVICE=ps2write");
    if (plan.width && plan.height) {
      args.push_back(StringPrintf("-dDEVICEWIDTHPOINTS=%.3f", *plan.width));
      args.push_back(StringPrintf("-dDEVICEHEIGHTPOINTS=%.3f", *plan.height));
      args.push_back("-dFIXEDMEDIA");
    }
    if (plan.fit_first) args.push_back("-dPDFFitPage");
    args.push_back("-sOutputFile=" + output);
    args.push_back("-c");
    args.push_back(StringPrintf("<< /Install { %.6f %.6f translate %.9f dup scale } >> setpagedevice",
                                plan.x, plan.y, plan.scale));
  }
  args.push_back("-f");
  args.push_back(input);
  // Looked up in systemdict, out of the job's reach; the name after the
  // marker is undefined, so that the run fails.
  args.push_back("-c");
  args.push_back("systemdict begin currentpagedevice /PageCount get 0 eq { (" + no_page_marker +
                 ") = flush lx-filter-found-no-page } if end");
  return args;
}
