// The option parser over arbitrary argument lists: the input split at zero
// bytes is argv, argv[0] first.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tool/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(current);
  if (args.size() > 64) return 0;
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());

  ParsedCommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  const FormatRequest& r = parsed.request;
  if (parsed.command == Command::kAdd || parsed.command == Command::kDelete) {
    size_t name = strnlen(r.name, sizeof r.name);
    size_t queue = strnlen(r.queue, sizeof r.queue);
    if (name == 0 || name > 32 || strchr(r.name, '\n') != nullptr) abort();
    if (queue == 0 || queue > 1023) abort();
    if (DetectModel(argv[0]) == nullptr) abort();
  }
  if (parsed.command == Command::kAdd && (r.width < 1 || r.height < 1)) abort();
  return 0;
}
