#ifndef PRINT_CUPS_OPTIONS_H_
#define PRINT_CUPS_OPTIONS_H_

// What a CUPS job asks for, from the options argument cupsd hands each
// filter: "name=value" words, a value quoted with ' or " or escaped with
// "\" where it holds blanks, a word without "=" a boolean. cupsd has
// already added the queue's defaults (lpadmin -o name-default=value) for
// what the job does not set.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "print/job_options.h"

using CupsOptions = std::vector<std::pair<std::string, std::string>>;

// Splits |text| as CUPS's own option parser does: a value runs to the next
// blank outside quotes; inside quotes and in plain words "\" takes the next
// byte as it is; "{...}" (a collection) is kept whole; a word "no<name>"
// without a value is <name>=false, any other one <name>=true. A name that
// comes again replaces the earlier value, whatever its case.
CupsOptions ParseCupsOptions(std::string_view text);

// The value of |name| (any case) in |options|, if given.
std::optional<std::string> CupsOption(const CupsOptions& options, std::string_view name);

// The PPD's default page size, and a medium that names none: the queue's
// media-default (which cupsd adds as media), else the model's default,
// else the job's own page.
inline constexpr char kDefaultMedium[] = "Default";

// A PWG media name that holds its size ("iso_a4_210x297mm",
// "na_index-4x6_4x6in", "custom_62x100mm_62x100mm", as IPP clients and
// cupsd itself send them): that size as a free size, "<W>x<H>mm".
std::optional<std::string> PwgMediaSize(std::string_view value);

struct CupsJob {
  std::string medium;  // PageSize, else media; empty: none named
  JobLimits limits;    // the defaults, or lower where the job or queue asks
};

// The medium and limits of a job: PageSize wins over media (a job's
// PageSize over its queue's media-default); an empty value or "Default"
// names none, and the other is looked at; a PWG name stands for its size.
// ks_time_limit, ks_output_limit, ks_disk_limit and ks_memory_limit, which
// any user may set for a job, only ever lower the built-in ones. Fails
// with the one line to report for a limit that is not a number (1 to
// 999999).
bool ReadCupsJob(const CupsOptions& options, CupsJob* job, std::string* error);

#endif  // PRINT_CUPS_OPTIONS_H_
