#ifndef PRINT_JOB_OPTIONS_H_
#define PRINT_JOB_OPTIONS_H_

// What a print job asks for and what its queue allows, as the spooler hands
// them to the filter: the job's options (LPRng's -Z list) and the queue's
// printcap entry. A value that is not one fails the job with one line.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The bounds of one job: what Ghostscript may take.
struct JobLimits {
  uint64_t cpu_seconds = 120;          // ks_time_limit
  uint64_t output_mib = 100;           // ks_output_limit: the file Ghostscript writes
  uint64_t disk_mib = 500;             // ks_disk_limit: all the job's files together
  uint64_t memory_mib = 2048;          // ks_memory_limit: Ghostscript's address space
};

// The options that set them, by name, as a queue (and, on CUPS, a job)
// gives them; the unit is for messages.
struct LimitOption {
  const char* name;
  uint64_t JobLimits::*value;
  const char* unit;
};
inline constexpr LimitOption kLimitOptions[] = {
    {"ks_time_limit", &JobLimits::cpu_seconds, "seconds"},
    {"ks_output_limit", &JobLimits::output_mib, "MiB"},
    {"ks_disk_limit", &JobLimits::disk_mib, "MiB"},
    {"ks_memory_limit", &JobLimits::memory_mib, "MiB"},
};

// A printcap number: decimal digits only, whatever the leading zeros, 1 to
// 999999. Anything else (empty, zero, a sign, junk, more) is none.
std::optional<uint64_t> PrintcapNumber(const std::string& text);

struct QueueOptions {
  std::string medium;  // ks_media: the queue's medium, empty if none
  JobLimits limits;
};

// Reads the printcap entry as LPRng hands it to a filter (PRINTCAP_ENTRY):
// fields separated by ":", each up to its line's end after leading blanks;
// "name=value" or, for numbers, also "name#value". The first of each name
// counts. Fails with the one line to report, *error, for a limit that is
// not a number.
bool ParseQueueOptions(const std::string& entry, QueueOptions* options, std::string* error);

struct JobOptions {
  std::string medium;          // -Z media=
  bool medium_given = false;
  std::optional<double> length;  // -Z length=, in 1/300 inch
};

// Reads LPRng's filter arguments: each "-Z" option list, "-Zkey=value,..."
// or "-Z" and the list as the next argument; every other argument is the
// spooler's and is passed over. Fails with the one line to report for an
// unknown option, an empty medium or a length that is no number.
bool ParseJobOptions(const std::vector<std::string>& args, JobOptions* options,
                     std::string* error);

#endif  // PRINT_JOB_OPTIONS_H_
