#include "print/lpr_filter.h"

#include <cstring>
#include <vector>

#include "print/print_job.h"
#include "print/run_limited.h"
#include "tool/layout.h"

namespace {

// LPRng's status for a job that must not be tried again: lpd removes it.
constexpr int kAbort = 2;

}  // namespace

int RunLprFilter(int argc, const char* const* argv, const std::string& root,
                 const char* printcap_entry, const char* temp_dir, const char* path, int in,
                 int out, FILE* err) {
  const char* invoked = argc > 0 ? argv[0] : "";
  const char* slash = strrchr(invoked, '/');
  const std::string name = slash != nullptr ? slash + 1 : invoked;
  auto fail = [&](const std::string& why) {
    fprintf(err, "%s: %s\n", name.c_str(), why.c_str());
    fflush(err);
    return kAbort;
  };
  const char* model = DetectModel(invoked);
  if (model == nullptr) {
    return fail("no printer model in the filter's name " + name + " (210, 220, 230 or 240)");
  }
  CatchRemoval();
  std::string error;
  JobOptions job;
  if (!ParseJobOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), &job,
                       &error)) {
    return fail(error);
  }
  QueueOptions queue;
  if (!ParseQueueOptions(printcap_entry != nullptr ? printcap_entry : "", &queue, &error)) {
    return fail(error);
  }
  PrintSettings settings;
  settings.root = root;
  if (!settings.root.empty() && settings.root.back() != '/') settings.root += '/';
  settings.model = model;
  // The job's medium, else the queue's; else the model's default.
  settings.medium = job.medium_given ? job.medium : queue.medium;
  settings.length = job.length;
  settings.limits = queue.limits;
  settings.temp_dir = temp_dir != nullptr && *temp_dir != '\0' ? temp_dir : "/tmp";
  settings.ghostscript = "gs";
  settings.path = path != nullptr && *path != '\0' ? path : "/usr/bin:/bin";
  std::string reason;
  if (!PrintJob(settings, in, out, &reason)) return fail(reason);
  return 0;
}
