#ifndef PRINT_RUN_LIMITED_H_
#define PRINT_RUN_LIMITED_H_

// Runs one program of a print job (Ghostscript) within the job's bounds and
// waits for it:
//   - CPU time, the size of any one file it writes, and its address space,
//     as resource limits only ever lowered (a spooler's tighter hard limit
//     holds, and is the one reported);
//   - the bytes of every file in the job's directory together, watched
//     (inotify, and a check every quarter second besides) as they grow: the
//     program is killed once they pass the limit;
//   - a removed job (SIGTERM, SIGINT, SIGHUP or SIGQUIT to the filter):
//     the program is killed, and the caller cleans up.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tool/status.h"

struct RunLimits {
  uint64_t cpu_seconds = 0;    // soft limit; the hard one a second later
  uint64_t file_bytes = 0;
  uint64_t address_bytes = 0;
  uint64_t disk_bytes = 0;     // the watched directory's files together
};

// The limits that hold under those of this process: each requested one,
// or this process's hard limit where that is lower.
RunLimits EffectiveLimits(const RunLimits& wanted);

enum class RunEnd {
  kExited,     // status is its exit status
  kSignalled,  // signal is what ended it (SIGXCPU: the time limit; SIGXFSZ: a file's)
  kDiskLimit,  // killed: the directory's files passed disk_bytes
  kRemoved,    // killed: the job was removed; the caller ends too
};

struct RunResult {
  RunEnd end = RunEnd::kExited;
  int status = 0;
  int signal = 0;
};

// Catches the signals a removed job gets, from now on, so that a run in
// progress ends cleanly and JobRemoved() says so.
void CatchRemoval();
bool JobRemoved();

// Runs |program| with |args| (argv[0] is |program|) and the environment
// |env|, its standard input |in|, standard output and error |log|, within
// |limits| (see EffectiveLimits), the files under |watched| counted against
// disk_bytes. Fails only if it could not be started or waited for.
Status RunLimited(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& env, int in, int log,
                  const RunLimits& limits, const std::string& watched, RunResult* result);

// The bytes the files under |dir| take on disk, one level of directories
// down (the job's directory and Ghostscript's own in it).
uint64_t DiskUse(const std::string& dir);

#endif  // PRINT_RUN_LIMITED_H_
