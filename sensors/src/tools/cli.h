// The omzi2c command line: global options, commands, the shell.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace omzi2c::tool {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;   // bad usage: nothing was sent
constexpr int kExitFailed = 2;  // a request failed

constexpr char kVersion[] = "1.0.0";

// The user's terminal, apart from the standard streams: the shell prompts
// when its input is the terminal, and asks its confirmations there, since
// its standard input is the script it runs.
class Terminal {
 public:
  virtual ~Terminal() = default;
  virtual bool InputIsTerminal() const = 0;
  // Shows `question` on the terminal and reads one line; nullopt when there
  // is no terminal to ask on.
  virtual std::optional<std::string> Ask(const std::string& question) = 0;
  // Whether the shell's lines can be read with line editing and history.
  virtual bool EditsLines() const { return false; }
  // One line of the shell after `prompt`, edited; nullopt at end of input.
  virtual std::optional<std::string> EditLine(const std::string& /*prompt*/) {
    return std::nullopt;
  }
};

// The controlling terminal of this process (/dev/tty, or the console on
// Windows); on Linux it edits the shell's lines where the tool was built
// with libedit.
std::unique_ptr<Terminal> ProcessTerminal();

struct CliIo {
  std::istream& in;
  std::ostream& out;  // data
  std::ostream& err;  // diagnostics, prompts, trace
  Terminal* terminal = nullptr;
  bool inShell = false;  // a line of the shell: confirmations go to the terminal
};

struct GlobalOptions;
// The session options among `args`, as the command line takes them
// ("--board ports --chipset 4", "-f"); false with the reason in `error` for
// anything else.
bool ParseSessionOptions(const std::vector<std::string>& args, GlobalOptions* options,
                         std::string* error);

// Runs the tool with `args` (without the program name).
int RunTool(const std::vector<std::string>& args, CliIo io);

}  // namespace omzi2c::tool
