#include "tools/cli.h"

#include <iostream>
#include <memory>
#include <sstream>

#include "tools/commands.h"
#include "tools/format.h"
#include "tools/session.h"

namespace omzi2c::tool {

namespace {

const char kOverview[] =
    "Usage: omzi2c [OPTIONS] COMMAND [ARGS]\n"
    "SMBus transactions and raw I/O-port access through the OMZI2C driver.\n"
    "\n"
    "Options:\n"
#if !defined(_WIN32)
    "  --board sim|ports   the simulated board (default) or real I/O ports (root)\n"
    "  --config FILE       driver parameters from a .reg file\n"
    "  --chipset N         controller kind 1..10 (default 2)\n"
    "  --vid N, --did N    PCI vendor and device ID of the SMBus controller\n"
    "  --func N            PCI function number of the controller\n"
    "  --port-service on|off, --smb-service on|off\n"
    "                      enable or disable a service (both on by default)\n"
    "  --fault NAME        inject a fault of the simulated board (repeatable)\n"
    "  --list-faults       name the simulated board's faults\n"
    "  --trace             print every port access and pause on stderr\n"
#endif
    "  -y, --yes           do not ask before writes\n"
    "  -h, --help          this text; COMMAND --help describes a command\n"
    "\n"
    "Chip addresses are 7-bit (0x00-0x7f); numbers are decimal or 0x-hex.\n"
    "Data goes to stdout, diagnostics to stderr. Exit status: 0 success,\n"
    "1 bad usage, 2 a failed request.\n"
    "\n"
    "Commands:\n";

bool TakeValue(const std::vector<std::string>& args, size_t* i, std::string* value,
               std::ostream& err) {
  if (*i + 1 >= args.size()) {
    err << "Error: " << args[*i] << " needs a value\n";
    return false;
  }
  *value = args[++*i];
  return true;
}

bool ParseOnOff(const std::string& text, std::optional<bool>* flag) {
  if (text == "on" || text == "1" || text == "yes") {
    *flag = true;
    return true;
  }
  if (text == "off" || text == "0" || text == "no") {
    *flag = false;
    return true;
  }
  return false;
}

// Parses one global option at args[*i]; false with a message on bad usage.
bool ParseOption(const std::vector<std::string>& args, size_t* i, GlobalOptions* options,
                 std::ostream& err) {
  const std::string& name = args[*i];
  std::string value;
  if (name == "-y" || name == "--yes") {
    options->yes = true;
    return true;
  }
  if (name == "--trace") {
    options->trace = true;
    return true;
  }
  if (!TakeValue(args, i, &value, err)) return false;
  if (name == "--board") {
    if (value != "sim" && value != "ports") {
      err << "Error: --board is sim or ports, not '" << value << "'\n";
      return false;
    }
    options->board = value;
    return true;
  }
  if (name == "--config") {
    options->config = value;
    return true;
  }
  if (name == "--fault") {
    options->faults.push_back(value);
    return true;
  }
  if (name == "--port-service" || name == "--smb-service") {
    auto& flag = name == "--port-service" ? options->portService : options->smbService;
    if (ParseOnOff(value, &flag)) return true;
    err << "Error: " << name << " is on or off, not '" << value << "'\n";
    return false;
  }
  std::optional<uint32_t>* number = name == "--chipset" ? &options->chipset
                                    : name == "--vid"   ? &options->vid
                                    : name == "--did"   ? &options->did
                                    : name == "--func"  ? &options->func
                                                        : nullptr;
  if (number == nullptr) {
    err << "Error: unknown option " << name << "\n";
    return false;
  }
  const uint32_t max = name == "--chipset" ? 0x7FFFFFFF : 0xFFFF;
  *number = ParseNumber(value, max);
  if (!*number) {
    err << "Error: " << name << " needs a number up to " << Hex8(max) << ", not '" << value
        << "'\n";
    return false;
  }
  return true;
}

void PrintOverview(std::ostream& out) {
  out << kOverview;
  for (const CommandInfo& command : Commands()) {
    out << "  " << command.usage << "\n      " << command.summary << "\n";
  }
}

std::vector<std::string> SplitLine(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream stream(line);
  std::string word;
  while (stream >> word) {
    if (word[0] == '#') break;
    words.push_back(word);
  }
  return words;
}

// The session is opened on first use, so that help and bad usage never load
// the driver.
class LazySession : public SessionSource {
 public:
  LazySession(const GlobalOptions& options, CliIo io) : options_(options), io_(io) {}
  Session* Get(int* exitStatus) override {
    if (session_) return session_.get();
    std::string error;
    session_ = OpenSession(options_, io_.err, &error, exitStatus);
    if (!session_) io_.err << "Error: " << error << "\n";
    return session_.get();
  }

 private:
  const GlobalOptions& options_;
  CliIo io_;
  std::unique_ptr<Session> session_;
};

int RunShell(SessionSource& sessions, const GlobalOptions& options, CliIo io) {
  int worst = kExitOk;
  std::string line;
  while (std::getline(io.in, line)) {
    const std::vector<std::string> words = SplitLine(line);
    if (words.empty()) continue;
    if (words[0] == "exit" || words[0] == "quit") break;
    if (words[0] == "shell") {
      io.err << "Error: already in the shell\n";
      worst = std::max(worst, kExitUsage);
      continue;
    }
    worst = std::max(worst, RunCommand(words, sessions, options, io));
  }
  return worst;
}

}  // namespace

int RunTool(const std::vector<std::string>& args, CliIo io) {
  GlobalOptions options;
  bool listFaults = false;
  size_t i = 0;
  for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-'; ++i) {
    if (args[i] == "-h" || args[i] == "--help") {
      PrintOverview(io.out);
      return kExitOk;
    }
    if (args[i] == "--list-faults") {
      listFaults = true;
      continue;
    }
    if (!ParseOption(args, &i, &options, io.err)) {
      io.err << "Try 'omzi2c --help'.\n";
      return kExitUsage;
    }
  }
  if (listFaults) {
    for (const std::string& line : DescribeFaults())
      io.out << line << "\n";
    return kExitOk;
  }
  if (i == args.size()) {
    io.err << "Error: no command given\n";
    PrintOverview(io.err);
    return kExitUsage;
  }
  const std::vector<std::string> command(args.begin() + static_cast<long>(i), args.end());
  LazySession sessions(options, io);
  if (command[0] == "shell") {
    if (command.size() > 1 && (command[1] == "--help" || command[1] == "-h")) {
      io.out << "Usage: omzi2c shell\n"
                "Reads commands line by line from standard input, one session for all:\n"
                "the simulated board keeps its state between commands. '#' starts a\n"
                "comment; 'exit' or end of input ends the shell. The exit status is the\n"
                "worst of the commands'.\n";
      return kExitOk;
    }
    return RunShell(sessions, options, io);
  }
  if (command[0] == "help") {
    if (command.size() == 1) {
      PrintOverview(io.out);
      return kExitOk;
    }
    return RunCommand({command[1], "--help"}, sessions, options, io);
  }
  return RunCommand(command, sessions, options, io);
}

}  // namespace omzi2c::tool
