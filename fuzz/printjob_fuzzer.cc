// The print job's planning over arbitrary jobs, options and media: the
// job's kind and page box read from any bytes, the queue's and the job's
// options from any text, and the plan for any box and medium. A plan is
// either the job as it is or a run of Ghostscript with finite figures, and
// a page that fits is never scaled.
// Input: the printcap entry up to the first NUL, the -Z list up to the
// next, two medium sizes as text up to the next, then the job.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "print/job_file.h"
#include "print/job_options.h"
#include "print/plan.h"

namespace {

std::string Take(std::string* input) {
  const size_t nul = input->find('\0');
  std::string part = input->substr(0, nul);
  input->erase(0, nul == std::string::npos ? input->size() : nul + 1);
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  const std::string entry = Take(&input), zlist = Take(&input), media = Take(&input);

  QueueOptions queue;
  std::string error;
  if (ParseQueueOptions(entry, &queue, &error)) {
    for (uint64_t limit : {queue.limits.cpu_seconds, queue.limits.output_mib,
                           queue.limits.disk_mib, queue.limits.memory_mib}) {
      if (limit < 1 || limit > 999999) abort();
    }
  } else if (error.empty()) {
    abort();
  }
  JobOptions job;
  if (ParseJobOptions({"-Z" + zlist}, &job, &error) && job.length && !std::isfinite(*job.length)) {
    abort();
  }

  const JobInfo info = JobInfoOf(input);
  if (info.box && !(info.box->width() > 0 && info.box->height() > 0)) abort();
  if (info.kind == JobKind::kOther && info.box) abort();

  std::optional<MediumSize> medium;
  char* end;
  const double w = strtod(media.c_str(), &end), h = strtod(end, nullptr);
  if (std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0 && w < 1e6 && h < 1e6) {
    medium = MediumSize{w, h};
  }
  PrintPlan plan;
  if (!PlanJob(info, medium, job.length, &plan, &error)) return 0;
  if (plan.send_as_is) return 0;
  for (double figure : {plan.x, plan.y, plan.scale}) {
    if (!std::isfinite(figure)) abort();
  }
  if (plan.scale <= 0 || plan.scale > 1) abort();
  if (medium && info.box && info.box->width() <= *plan.width && info.box->height() <= *plan.height &&
      plan.scale != 1) {
    abort();
  }
  const std::vector<std::string> args = GhostscriptArguments(plan, "in", "out", "M");
  if (args.empty() || args[1] != "-dSAFER") abort();
  return 0;
}
