#ifndef TOOL_RUN_TOOL_H_
#define TOOL_RUN_TOOL_H_

#include <cstdio>
#include <string>

// One run of the label-format tool: picks the model from argv[0], parses the
// options, deletes and/or adds (or lists) under |root| (ending with '/'), and
// writes its one message, the listing or the usage text to |out|; what was
// wrong with a command line, and warnings, to |err|. Returns the exit
// status: 0, or -1 (255) when the command line was refused or an operation
// failed.
int RunTool(int argc, const char* const* argv, const std::string& root, FILE* out,
            FILE* err = stderr);

#endif  // TOOL_RUN_TOOL_H_
