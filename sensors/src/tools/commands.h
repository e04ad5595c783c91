// The tool's commands.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/cli.h"
#include "tools/session.h"

namespace omzi2c::tool {

// Opens the session when a command first needs it.
class SessionSource {
 public:
  virtual ~SessionSource() = default;
  // Null when the session cannot be opened (said on `err`; `exitStatus` set).
  virtual Session* Get(int* exitStatus, std::ostream& err) = 0;
};

struct CommandInfo {
  const char* name;
  const char* usage;
  const char* summary;
  const char* details;
};

const std::vector<CommandInfo>& Commands();

// Runs one command (`words[0]` is its name).
int RunCommand(const std::vector<std::string>& words, SessionSource& sessions,
               const GlobalOptions& options, CliIo io);

}  // namespace omzi2c::tool
