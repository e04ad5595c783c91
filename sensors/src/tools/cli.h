// The omzi2c command line: global options, commands, the shell.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace omzi2c::tool {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;   // bad usage: nothing was sent
constexpr int kExitFailed = 2;  // a request failed

struct CliIo {
  std::istream& in;
  std::ostream& out;  // data
  std::ostream& err;  // diagnostics, prompts, trace
};

// Runs the tool with `args` (without the program name).
int RunTool(const std::vector<std::string>& args, CliIo io);

}  // namespace omzi2c::tool
