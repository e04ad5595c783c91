#include "tools/cli.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <sstream>

#include "tools/commands.h"
#include "tools/format.h"
#include "tools/session.h"

namespace omzi2c::tool {

namespace {

const char kOverview[] =
    "Usage: omzi2c [OPTIONS] COMMAND [OPTIONS] [ARGS]\n"
    "SMBus transactions and raw I/O-port access through the OMZI2C driver.\n"
    "\n"
    "Options (before or after the command name):\n"
#if !defined(_WIN32)
    "  --board sim|ports   the simulated board (default) or real I/O ports (root)\n"
    "  --config FILE       driver parameters from a .reg file\n"
    "  --chipset N         controller kind 1..10 (default 2)\n"
    "  --vid N, --did N    PCI vendor and device ID of the SMBus controller\n"
    "  --func N            PCI function number of the controller\n"
    "  --port-service on|off, --smb-service on|off\n"
    "                      enable or disable a service (both on by default)\n"
    "  --state FILE        keep the simulated board's memory (EEPROMs, device\n"
    "                      registers) in FILE between runs; without it every run\n"
    "                      starts from the board's initial contents\n"
    "  --fault NAME        inject a fault of the simulated board (repeatable),\n"
    "                      from the start, for good; NAME@N: from the Nth\n"
    "                      transaction on (each start command the driver writes\n"
    "                      to the controller is one, numbered from 1); NAME@N+K:\n"
    "                      for K transactions from the Nth; NAME%P[:SEED]: at\n"
    "                      each transaction with P percent probability, drawn\n"
    "                      from SEED (default 1)\n"
    "  --list-faults       name the simulated board's faults and the kinds that\n"
    "                      have them (with --chipset, only that kind's)\n"
    "  --trace             print every port access and pause on stderr\n"
#endif
    "  -y, --yes           do not ask before writes\n"
    "  -f, --force         drive the SMBus host even though a kernel driver holds\n"
    "                      it (checked on Linux with --board ports; on Windows\n"
    "                      nothing is checked: firmware or another driver may\n"
    "                      use the host unseen)\n"
    "  -a, --all-addresses allow chip addresses 0x00-0x07 and 0x78-0x7f\n"
    "  --json              sensors, spd and pci: print one JSON document\n"
    "  -h, --help          this text; COMMAND --help describes a command\n"
    "  -V, --version       the tool's version\n"
    "  --                  the arguments that follow are not options\n"
    "Options with a value take it as the next argument or after '=' (--chipset=5).\n"
    "\n"
    "Chip addresses are 7-bit, 0x08-0x77 unless -a. Numbers follow C: 0x-hex,\n"
    "0-octal (010 is 8, 08 is refused), decimal. There is one bus, the driver's:\n"
    "no bus number precedes the chip address (a decimal number before a chip\n"
    "written in hex, as in 'set 9 0x50 0x12', is taken for one and refused;\n"
    "write such a chip in hex). Data goes to stdout, diagnostics\n"
    "to stderr. Exit status: 0 success (also a write declined at its\n"
    "confirmation), 1 bad usage, 2 a failed request.\n"
    "\n"
    "Commands:\n";

const char kShellHelp[] =
    "Usage: omzi2c shell\n"
    "Reads commands line by line from standard input, one session for all:\n"
    "the simulated board keeps its state between commands. '#' starts a\n"
    "comment; 'help [COMMAND]' describes the commands; 'exit', 'quit' or end\n"
    "of input ends the shell. -y and -a may follow a command name and apply\n"
    "to that line; options of the session go before 'shell'. Error messages\n"
    "start with the number of their input line. On a terminal the shell shows\n"
    "a prompt; confirmations of writes to real hardware are asked on the\n"
    "terminal, never read from the script. The exit status is the worst of\n"
    "the commands'.\n";

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

bool IsSessionOption(const std::string& name) {
  for (const char* known : {"--board", "--config", "--state", "--fault", "--port-service",
                            "--smb-service", "--chipset", "--vid", "--did", "--func", "--trace"}) {
    if (name == known) return true;
  }
  return false;
}

// Parses one option of the session at args[*i]; false with a message on bad
// usage.
bool ParseSessionOption(const std::vector<std::string>& args, size_t* i, GlobalOptions* options,
                        std::ostream& err) {
  const std::string& name = args[*i];
  std::string value;
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
  if (name == "--config" || name == "--state") {
    (name == "--config" ? options->config : options->state) = value;
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
                                                        : &options->func;
  const uint32_t max = name == "--chipset" ? 0x7FFFFFFF : 0xFFFF;
  *number = ParseNumber(value, max);
  if (!*number) {
    err << "Error: " << name << " needs a number up to " << Hex8(max) << ", not '" << value
        << "'\n";
    return false;
  }
  return true;
}

// A command line, or a line of the shell, taken apart: options wherever
// they stand, the command name and its arguments in `words`.
struct Line {
  std::vector<std::string> words;
  bool help = false;
  bool version = false;
  bool listFaults = false;
};

// Short flags, alone or bundled as getopt takes them ("-ya").
bool IsFlagBundle(const std::string& arg) {
  return arg.size() >= 2 && arg[0] == '-' && arg[1] != '-' &&
         arg.find_first_not_of("yahf", 1) == std::string::npos;
}

bool ParseFlags(const std::string& arg, GlobalOptions* options, Line* line) {
  if (!IsFlagBundle(arg)) return false;
  for (size_t i = 1; i < arg.size(); ++i) {
    if (arg[i] == 'y') options->yes = true;
    if (arg[i] == 'a') options->allAddresses = true;
    if (arg[i] == 'h') line->help = true;
    if (arg[i] == 'f') options->force = true;
  }
  return true;
}

// -f decides how the session opens, so a shell line cannot change it.
bool IsForce(const std::string& arg) {
  return arg == "--force" || (IsFlagBundle(arg) && arg.find('f') != std::string::npos);
}

// Options of one command, with a value: exchange's --reply-room N, dump's
// -r FIRST-LAST.
bool IsTrailingOption(const std::string& arg, const std::vector<std::string>& words) {
  const std::string command = words.empty() ? "" : words[0];
  return (arg == "--reply-room" && command == "exchange") || (arg == "-r" && command == "dump");
}

bool TakesValue(const std::string& name) {
  return (IsSessionOption(name) && name != "--trace") || name == "--reply-room";
}

// "--name=value" as "--name value", for every long option that takes a
// value; false with a message for one that takes none.
bool SplitLongOptions(const std::vector<std::string>& args, std::vector<std::string>* split,
                      std::ostream& err) {
  bool onlyWords = false;
  for (const std::string& arg : args) {
    const size_t equals = arg.find('=');
    onlyWords = onlyWords || arg == "--";
    if (onlyWords || arg.rfind("--", 0) != 0 || equals == std::string::npos) {
      split->push_back(arg);
      continue;
    }
    const std::string name = arg.substr(0, equals);
    if (!TakesValue(name)) {
      err << "Error: " << name << " takes no value ('" << arg << "')\n";
      return false;
    }
    split->push_back(name);
    split->push_back(arg.substr(equals + 1));
  }
  return true;
}

bool ParseLine(const std::vector<std::string>& given, bool sessionOptions, GlobalOptions* options,
               Line* line, std::ostream& err) {
  std::vector<std::string> args;
  if (!SplitLongOptions(given, &args, err)) return false;
  bool onlyWords = false;
  std::vector<std::string> trailing;  // a command's own option goes last, where it looks
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyWords || arg.size() < 2 || arg[0] != '-') {
      line->words.push_back(arg);
    } else if (arg == "--") {
      onlyWords = true;
    } else if (IsTrailingOption(arg, line->words)) {
      trailing = {arg};  // given to the command after its other arguments
      if (i + 1 < args.size()) trailing.push_back(args[++i]);
    } else if (arg == "--help") {
      line->help = true;
    } else if (arg == "--version" || arg == "-V") {
      line->version = true;
    } else if (arg == "--yes" || arg == "--all-addresses") {
      (arg == "--yes" ? options->yes : options->allAddresses) = true;
    } else if (IsForce(arg) && !sessionOptions) {
      err << "Error: " << arg << " applies to the whole session: give it before 'shell'\n";
      return false;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--force") {
      options->force = true;
    } else if (arg == "--list-faults" && sessionOptions) {
      line->listFaults = true;
    } else if (ParseFlags(arg, options, line)) {
      continue;
    } else if (IsSessionOption(arg)) {
      if (!sessionOptions) {
        err << "Error: " << arg << " applies to the whole session: give it before 'shell'\n";
        return false;
      }
      if (!ParseSessionOption(args, &i, options, err)) return false;
    } else {
      err << "Error: unknown option '" << arg << "'\n";
      return false;
    }
  }
  line->words.insert(line->words.end(), trailing.begin(), trailing.end());
  return true;
}

void PrintOverview(std::ostream& out) {
  out << kOverview;
  for (const CommandInfo& command : Commands()) {
    out << "  " << command.usage << "\n      " << command.summary << "\n";
  }
}

void PrintVersion(std::ostream& out) {
#if defined(_WIN32)
  out << "omzi2c " << kVersion << " (Windows: the installed driver)\n";
#else
  out << "omzi2c " << kVersion << " (Linux: the driver on the simulated board or real ports)\n";
#endif
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
  LazySession(const GlobalOptions& options, std::ostream& trace)
      : options_(options), trace_(trace) {}
  Session* Get(int* exitStatus, std::ostream& err) override {
    if (session_) return session_.get();
    std::string error;
    session_ = OpenSession(options_, trace_, &error, exitStatus);
    if (!session_) err << "Error: " << error << "\n";
    return session_.get();
  }
  // Keeps what the session has done so far; the exit status that adds.
  int Keep(std::ostream& err) {
    std::string error;
    if (!session_ || session_->Keep(&error)) return kExitOk;
    err << "Error: " << error << "\n";
    return kExitFailed;
  }
  // Ends the session; the exit status its ending adds.
  int Finish(std::ostream& err) {
    std::string error;
    if (!session_ || session_->Finish(&error)) return kExitOk;
    err << "Error: " << error << "\n";
    return kExitFailed;
  }

 private:
  const GlobalOptions& options_;
  std::ostream& trace_;
  std::unique_ptr<Session> session_;
};

// Help, or the command, of one parsed line.
int RunParsed(const Line& line, SessionSource& sessions, const GlobalOptions& options, CliIo io) {
  const std::vector<std::string>& words = line.words;
  if (line.version) {
    PrintVersion(io.out);
    return kExitOk;
  }
  const bool helpWord = !words.empty() && words[0] == "help";
  if (words.empty() || (helpWord && words.size() == 1)) {
    if (line.help || helpWord) {
      PrintOverview(io.out);
      return kExitOk;
    }
    io.err << "Error: no command given\n";
    PrintOverview(io.err);
    return kExitUsage;
  }
  if (helpWord || line.help) {
    const std::string& name = helpWord ? words[1] : words[0];
    if (name == "shell") {
      io.out << kShellHelp;
      return kExitOk;
    }
    return RunCommand({name, "--help"}, sessions, options, io);
  }
  return RunCommand(words, sessions, options, io);
}

// Writes `text` line by line, each line after `prefix`.
void PrefixLines(const std::string& text, const std::string& prefix, std::ostream& out) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    out << prefix << line << "\n";
}

// One line of the shell's input; false at its end. On a terminal the line
// comes after a prompt, edited with history where the terminal can.
bool ReadShellLine(CliIo io, bool prompt, std::string* text) {
  constexpr char kPrompt[] = "omzi2c> ";
  if (prompt && io.terminal->EditsLines()) {
    const std::optional<std::string> line = io.terminal->EditLine(kPrompt);
    if (line) *text = *line;
    return line.has_value();
  }
  if (prompt) io.err << kPrompt << std::flush;
  return static_cast<bool>(std::getline(io.in, *text));
}

int RunShell(LazySession& sessions, const GlobalOptions& options, CliIo io) {
  const bool prompt = io.terminal != nullptr && io.terminal->InputIsTerminal();
  int worst = kExitOk;
  std::string text;
  for (size_t number = 1;; ++number) {
    if (!ReadShellLine(io, prompt, &text)) break;
    const std::vector<std::string> args = SplitLine(text);
    if (args.empty()) continue;
    if (args[0] == "exit" || args[0] == "quit") break;
    std::ostringstream errors;
    CliIo lineIo{io.in, io.out, errors, io.terminal, true};
    GlobalOptions lineOptions = options;
    Line line;
    int status = kExitUsage;
    if (args[0] == "shell") {
      errors << "Error: already in the shell\n";
    } else if (ParseLine(args, false, &lineOptions, &line, errors)) {
      status = RunParsed(line, sessions, lineOptions, lineIo);
    }
    status = std::max(status, sessions.Keep(errors));  // a Ctrl-C later loses nothing
    PrefixLines(errors.str(), "line " + std::to_string(number) + ": ", io.err);
    worst = std::max(worst, status);
  }
  if (prompt) io.err << "\n";
  return worst;
}

}  // namespace

bool ParseSessionOptions(const std::vector<std::string>& args, GlobalOptions* options,
                         std::string* error) {
  error->clear();
  std::ostringstream err;
  Line line;
  if (!ParseLine(args, /*sessionOptions=*/true, options, &line, err)) {
    *error = err.str();
  } else if (!line.words.empty() || line.help || line.version || line.listFaults) {
    *error =
        "Error: only session options are taken here, not '" +
        (line.words.empty() ? std::string("--help, --version or --list-faults") : line.words[0]) +
        "'\n";
  }
  while (!error->empty() && error->back() == '\n')
    error->pop_back();
  return error->empty();
}

int RunTool(const std::vector<std::string>& args, CliIo io) {
  GlobalOptions options;
  Line line;
  if (!ParseLine(args, true, &options, &line, io.err)) {
    io.err << "Try 'omzi2c --help'.\n";
    return kExitUsage;
  }
  if (line.listFaults && !line.help && !line.version) {
    for (const std::string& fault : DescribeFaults(options.chipset))
      io.out << fault << "\n";
    return kExitOk;
  }
  LazySession sessions(options, io.err);
  if (!line.words.empty() && line.words[0] == "shell" && !line.help && !line.version) {
    if (line.words.size() > 1) {
      io.err << "Error: shell takes no arguments; it reads commands from standard input\n";
      return kExitUsage;
    }
    const int status = RunShell(sessions, options, io);
    return std::max(status, sessions.Finish(io.err));
  }
  const int status = RunParsed(line, sessions, options, io);
  return std::max(status, sessions.Finish(io.err));
}

}  // namespace omzi2c::tool
