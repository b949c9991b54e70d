// cupsd's options argument, as any user's job may shape it: split as CUPS
// splits it, then read for the medium and the limits.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "print/cups_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const CupsOptions options = ParseCupsOptions(text);
  for (const auto& [name, value] : options) {
    // A word without "=" is a boolean: "true", or "false" for "no<name>".
    if (name.empty() || name.size() > size ||
        (value.size() > size && value != "true" && value != "false")) {
      abort();
    }
    // Names are unique whatever their case: the first place is kept.
    if (CupsOption(options, name) != value) abort();
  }
  CupsJob job;
  std::string error;
  if (ReadCupsJob(options, &job, &error)) {
    const JobLimits defaults;
    if (job.limits.cpu_seconds > defaults.cpu_seconds || job.limits.output_mib > defaults.output_mib ||
        job.limits.disk_mib > defaults.disk_mib || job.limits.memory_mib > defaults.memory_mib ||
        job.limits.cpu_seconds == 0 || job.medium == kDefaultMedium) {
      abort();
    }
  } else if (error.empty()) {
    abort();
  }
  if (const std::optional<std::string> size_mm = PwgMediaSize(text)) {
    if (size_mm->size() < 5 || size_mm->substr(size_mm->size() - 2) != "mm") abort();
  }
  return 0;
}
