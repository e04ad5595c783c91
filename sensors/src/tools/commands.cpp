#include "tools/commands.h"

#include <omzi2c/omzi2c.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>

#include "tools/format.h"

namespace omzi2c::tool {

namespace {

using client::Client;
using client::DescribeStatus;
using client::PortWidth;
using client::Response;

constexpr unsigned kFirstProbedChip = 0x03;
constexpr unsigned kLastProbedChip = 0x77;

const std::vector<CommandInfo> kCommands = {
    {"detect", "detect", "scan the bus and show which chip addresses answer",
     "Probes addresses 0x03-0x77 (0x00-0x7f with -a) with a receive byte, then a\n"
     "read byte at register 0 where that failed, and prints the 16-column grid:\n"
     "the address where a device answered, -- elsewhere. A probe that ends in\n"
     "anything but 'no device there' (a time-out, a host error, a service that\n"
     "is off, a controller without a back-end) stops the scan: exit status 2.\n"},
    {"get", "get CHIP [REG [MODE]]", "read one register (MODE b byte, w word, c, s block)",
     "Without REG: receive byte. MODE b (default): read byte at REG; w: read word\n"
     "(low byte first on the bus); c: send REG as a byte, then receive byte;\n"
     "s: SMBus block read at REG. Prints the value in hex.\n"},
    {"set", "set CHIP REG VALUE... [MODE]", "write one register (MODE b, w, s block)",
     "MODE b (default): write byte VALUE at REG; w: write word VALUE; s: block\n"
     "write of the VALUEs (at most 32). Asks before writing to real hardware\n"
     "unless -y; answering no ends the command with exit status 0.\n"},
    {"dump", "dump CHIP [MODE]", "read registers 0x00-0xff (MODE b or w)",
     "Prints the 256-register table with an ASCII column; XX where the chip did\n"
     "not answer. MODE w reads a word at each register. A read that fails\n"
     "otherwise (a time-out, a host error, ...) stops the dump: exit status 2.\n"},
    {"read", "read CHIP REG COUNT", "read COUNT bytes starting at REG",
     "A word read when COUNT is 2, else a byte read at REG followed by receive\n"
     "bytes (the chip moves on to the next register). Prints the bytes.\n"},
    {"write", "write CHIP REG BYTE...", "write bytes starting at REG",
     "Two bytes are written as one word (first byte low); otherwise each byte is\n"
     "written to REG, REG+1, ... (wrapping from 0xff to 0x00).\n"},
    {"recv", "recv CHIP [COUNT]", "receive COUNT bytes (default 1)",
     "Receive-byte transactions, each retried until it succeeds or fails 8 times.\n"},
    {"send", "send CHIP BYTE...", "send bytes, one send-byte transaction each", ""},
    {"block-read", "block-read CHIP REG", "SMBus block read at REG",
     "Prints the bytes the chip sent (at most 32).\n"},
    {"block-write", "block-write CHIP REG BYTE...", "SMBus block write of up to 32 bytes", ""},
    {"exchange", "exchange CHIP BYTE... [--reply-room N]",
     "send a message and read its length-prefixed reply",
     "Only on controllers with message support. N (default 40) is the room\n"
     "offered for the reply, its length byte included. Prints the reply's\n"
     "length byte and bytes.\n"},
    {"write-message", "write-message CHIP BYTE...", "send a message, no reply",
     "Only on controllers with message support.\n"},
    {"port", "port read PORT [b|w|d] | port write PORT VALUE [b|w|d]",
     "read or write an I/O port (byte, word or doubleword)",
     "Needs the port service. Prints the value read in hex.\n"},
    {"ioctl", "ioctl CODE INPUT-HEX OUTPUT-LENGTH", "send a raw device-control request",
     "Prints the status (value and name), the transferred length and the reply\n"
     "bytes. INPUT-HEX is hex bytes (\"\" for none), e.g. a0100000020000000000000000.\n"},
    {"info", "info", "show parameters, controller found and services enabled", ""},
    {"pci", "pci [BB:DD.F [CHIPSET]]", "list PCI functions; the .reg lines for one",
     "Lists the PCI functions of buses 0-6, read through ports 0xCF8/0xCFC with\n"
     "the driver's port requests (the port service must be on), and marks SMBus\n"
     "controllers (class 0x0c05). With BB:DD.F (hex, as 00:1f.3), prints the\n"
     "driver's parameters for that function as a .reg file; CHIPSET (1-10) fills\n"
     "in the host kind, which cannot be detected.\n"},
    {"bench", "bench CHIP REG COUNT", "time COUNT read-byte requests at REG",
     "Prints how many read-byte requests per second went through the driver,\n"
     "timed by the wall clock (on the simulated board pauses take no time).\n"},
    {"shell", "shell", "read commands from standard input, one session for all", ""},
    {"help", "help [COMMAND]", "list the commands, or describe one", ""},
};

class Command {
 public:
  Command(const CommandInfo& info, const std::vector<std::string>& args, SessionSource& sessions,
          const GlobalOptions& options, CliIo io)
      : info_(info), args_(args), sessions_(sessions), options_(options), io_(io) {}

  int Usage(const std::string& problem) {
    io_.err << "Error: " << problem << "\nUsage: omzi2c " << info_.usage << "\n";
    return kExitUsage;
  }

  size_t Count() const { return args_.size(); }
  const std::string& Arg(size_t i) const { return args_[i]; }

  std::optional<uint32_t> Number(size_t i, uint32_t max, const char* what) {
    const std::string& text = args_[i];
    std::optional<uint32_t> value = ParseNumber(text, max);
    if (value) return value;
    io_.err << "Error: " << what << " '" << text << "' is not a number in 0-" << Hex2(max);
    if (text.size() > 1 && text[0] == '0' && text.find_first_of("89") != std::string::npos &&
        text.find_first_not_of("0123456789") == std::string::npos) {
      io_.err << " (a leading 0 makes it octal, as in C)";
    }
    io_.err << "\nUsage: omzi2c " << info_.usage << "\n";
    return value;
  }

  // Bytes from args[first..end).
  std::optional<std::vector<uint8_t>> Bytes(size_t first, size_t end) {
    std::vector<uint8_t> bytes;
    for (size_t i = first; i < end; ++i) {
      std::optional<uint32_t> value = Number(i, 0xFF, "byte");
      if (!value) return std::nullopt;
      bytes.push_back(static_cast<uint8_t>(*value));
    }
    return bytes;
  }

  // Opens the session; null after saying why.
  Session* Open() {
    int status = kExitFailed;
    session_ = sessions_.Get(&status, io_.err);
    openStatus_ = status;
    return session_;
  }
  int OpenStatus() const { return openStatus_; }

  // On real hardware, asks before a write unless -y was given: nullopt to
  // go on, else the exit status to end with (0 when the user said no, as
  // i2cset does; 2 when a shell has no terminal to ask on).
  std::optional<int> Declined(const std::string& what, std::optional<unsigned> chip = {}) {
    if (!session_->RealHardware() || options_.yes) return std::nullopt;
    const std::optional<std::string> answer = Ask(Warning(what, chip) + "Continue? [y/N] ");
    if (io_.inShell && !answer) {
      io_.err << "Error: no terminal to confirm the " << what << " on; give -y to write"
              << " without asking\n";
      return kExitFailed;
    }
    if (answer && !answer->empty() && (answer->at(0) == 'y' || answer->at(0) == 'Y')) {
      return std::nullopt;
    }
    io_.err << "Aborted.\n";
    return kExitOk;
  }

  static std::string Warning(const std::string& what, std::optional<unsigned> chip) {
    std::string text = "WARNING! This " + what +
                       " goes to real hardware and can confuse the bus,\n"
                       "cause data loss and worse.\n";
    if (chip && *chip >= 0x50 && *chip <= 0x57) {
      text += "DANGER! Chip " + Hex2(*chip) +
              " is usually a memory module's EEPROM:\n"
              "writing it can leave the module, and the machine, unable to start.\n";
    }
    return text;
  }

  // The user's answer: from standard input, as i2cset reads it, or, in the
  // shell, whose input is its script, from the terminal. Nullopt when there
  // is nothing to read.
  std::optional<std::string> Ask(const std::string& question) {
    if (io_.inShell) return io_.terminal ? io_.terminal->Ask(question) : std::nullopt;
    io_.err << question << std::flush;
    std::string line;
    if (!std::getline(io_.in, line)) return std::nullopt;
    return line;
  }

  // Reports a failed request; true when it succeeded.
  bool Check(const Response& response, const std::string& what) {
    if (response.Succeeded()) return true;
    io_.err << "Error: " << what << " failed: " << DescribeStatus(response.status) << "\n";
    if (response.errorReply.size() == kSmbErrorReplyLength) {
      io_.err << "  host reported: "
              << DescribeHostReport(response.errorReply[0], response.errorReply[1]) << "\n";
    }
    return false;
  }

  const GlobalOptions& Options() const { return options_; }
  const char* Name() const { return info_.name; }

  std::ostream& Out() { return io_.out; }
  std::ostream& Err() { return io_.err; }
  Client& Driver() { return session_->Client(); }
  Session& CurrentSession() { return *session_; }

 private:
  const CommandInfo& info_;
  const std::vector<std::string>& args_;
  SessionSource& sessions_;
  const GlobalOptions& options_;
  CliIo io_;
  Session* session_ = nullptr;
  int openStatus_ = kExitFailed;
};

// Addresses i2c-tools keeps out of reach unless -a: reserved by SMBus for
// general call, start byte, other bus kinds, high-speed and 10-bit modes.
constexpr unsigned kFirstOrdinaryChip = 0x08;
constexpr unsigned kLastOrdinaryChip = 0x77;

// Chip address argument i.
std::optional<uint8_t> Chip(Command& c, size_t i) {
  std::optional<uint32_t> chip = c.Number(i, 0x7F, "chip address");
  if (!chip) return std::nullopt;
  if ((*chip < kFirstOrdinaryChip || *chip > kLastOrdinaryChip) && !c.Options().allAddresses) {
    c.Usage("chip address " + Hex2(*chip) + " is reserved (0x00-0x07 and 0x78-0x7f); -a allows it");
    return std::nullopt;
  }
  return static_cast<uint8_t>(*chip);
}

// An i2c-tools bus: "i2c-N", or a number in plain decimal; `reserved` only
// numbers that would be a reserved chip address.
bool LooksLikeBus(const std::string& word, bool reservedOnly) {
  if (word.rfind("i2c-", 0) == 0) return true;
  if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos) return false;
  if (word.size() > 1 && word[0] == '0') return false;  // octal: a chip address in C
  return !reservedOnly || (word.size() == 1 && word[0] <= '7');
}

// "BUS CHIP ..." as i2cget and friends take it, which would otherwise reach
// a reserved chip (0 0x50 0x12 would write to the general-call address).
bool ExplainBusNumber(const std::string& command, const std::vector<std::string>& args,
                      std::ostream& err) {
  if (command == "detect") {
    if (args.empty() || !LooksLikeBus(args[0], false)) return false;
    err << "Error: '" << args[0] << "' looks like an i2c-tools bus number: omzi2c works on\n"
        << "the one bus its driver serves; run 'omzi2c detect' without it\n";
    return true;
  }
  if (args.size() < 2 || !LooksLikeBus(args[0], true)) return false;
  const std::optional<uint32_t> chip = ParseNumber(args[1], kLastOrdinaryChip);
  if (!chip || *chip < kFirstOrdinaryChip) return false;
  err << "Error: '" << args[0] << " " << args[1] << "' looks like an i2c-tools bus number and\n"
      << "chip address: omzi2c works on the one bus its driver serves, so leave the bus\n"
      << "number out (omzi2c " << command << " " << args[1] << " ...).\n";
  if (args[0].rfind("i2c-", 0) != 0) {
    err << "To address chip " << Hex2(*ParseNumber(args[0], 0xFF))
        << " itself, write it in hex and give -a.\n";
  }
  return true;
}

// Register argument i.
std::optional<uint8_t> Register(Command& c, size_t i) {
  std::optional<uint32_t> reg = c.Number(i, 0xFF, "register");
  if (!reg) return std::nullopt;
  return static_cast<uint8_t>(*reg);
}

// CHIP REG COUNT, as read and bench take them.
struct ChipRegisterCountArgs {
  uint8_t chip;
  uint8_t reg;
  uint32_t count;
};
std::optional<ChipRegisterCountArgs> ChipRegisterCount(Command& c, uint32_t maxCount) {
  const auto chip = Chip(c, 0);
  const auto reg = chip ? Register(c, 1) : std::nullopt;
  const auto count = reg ? c.Number(2, maxCount, "count") : std::nullopt;
  if (!count) return std::nullopt;
  return ChipRegisterCountArgs{*chip, *reg, *count};
}

// How a probe of a chip ended. Only a chip that did not answer is "no device
// there": a device error or no acknowledge in the error reply, or, where the
// platform passes no error reply (Windows), the device-error status itself.
enum class Probe { Answered, Absent, Failed };

Probe ProbeResult(const Response& response) {
  if (response.Succeeded()) return Probe::Answered;
  if (response.status != kStatusIoDeviceError) return Probe::Failed;
  if (response.errorReply.size() != kSmbErrorReplyLength) return Probe::Absent;
  const uint8_t result = response.errorReply[0];
  return result == kResultNoAcknowledge || result == kResultDeviceError ? Probe::Absent
                                                                        : Probe::Failed;
}

// Says why a scan or dump stopped; the exit status.
int Stopped(Command& c, const Response& response, const std::string& what) {
  c.Check(response, what);
  c.Err() << "Error: " << c.Name() << " stopped: a failure other than 'no device there'\n";
  return kExitFailed;
}

int Detect(Command& c) {
  if (c.Count() != 0) return c.Usage("detect takes no arguments");
  const bool all = c.Options().allAddresses;
  const unsigned first = all ? 0x00 : kFirstProbedChip;
  const unsigned last = all ? 0x7F : kLastProbedChip;
  if (!c.Open()) return c.OpenStatus();
  std::vector<bool> found(0x80, false);
  for (unsigned chip = first; chip <= last; ++chip) {
    const uint8_t address = static_cast<uint8_t>(chip);
    // No quick command: a receive byte first, then a read byte at register 0
    // for chips that only answer register reads.
    Response r = c.Driver().ReceiveBytes(address, 1);
    Probe probe = ProbeResult(r);
    if (probe == Probe::Absent) probe = ProbeResult(r = c.Driver().ReadWithCommand(address, 0, 1));
    if (probe == Probe::Failed) return Stopped(c, r, "Probe of chip " + Hex2(chip));
    found[chip] = probe == Probe::Answered;
  }
  c.Out() << DetectGrid(found, first, last);
  return kExitOk;
}

bool IsMode(const std::string& text) {
  return text == "b" || text == "w" || text == "c" || text == "s";
}

int Get(Command& c) {
  if (c.Count() < 1 || c.Count() > 3) return c.Usage("get takes CHIP [REG [MODE]]");
  const std::string mode = c.Count() == 3 ? c.Arg(2) : "b";
  if (!IsMode(mode)) return c.Usage("MODE is b, w, c or s, not '" + mode + "'");
  const auto chip = Chip(c, 0);
  if (!chip) return kExitUsage;
  std::optional<uint32_t> reg;
  if (c.Count() >= 2 && !(reg = c.Number(1, 0xFF, "register"))) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();

  const uint8_t command = static_cast<uint8_t>(reg.value_or(0));
  Response response;
  if (!reg) {
    response = c.Driver().ReceiveBytes(*chip, 1);
  } else if (mode == "b") {
    response = c.Driver().ReadWithCommand(*chip, command, 1);
  } else if (mode == "w") {
    response = c.Driver().ReadWithCommand(*chip, command, 2);
  } else if (mode == "c") {
    if (!c.Check(c.Driver().SendBytes(*chip, {command}), "Write")) return kExitFailed;
    response = c.Driver().ReceiveBytes(*chip, 1);
  } else {
    response = c.Driver().BlockRead(*chip, command);
  }
  if (!c.Check(response, "Read")) return kExitFailed;
  if (mode == "w" && reg) {
    c.Out() << Hex4(response.reply[0] | (response.reply[1] << 8)) << "\n";
  } else if (mode == "s" && reg) {
    c.Out() << ByteList(response.reply) << "\n";
  } else {
    c.Out() << Hex2(response.reply[0]) << "\n";
  }
  return kExitOk;
}

int Set(Command& c) {
  size_t end = c.Count();
  const std::string mode = end >= 3 && IsMode(c.Arg(end - 1)) ? c.Arg(--end) : "b";
  if (mode == "c") return c.Usage("MODE c is not a write mode here: use 'send CHIP BYTE'");
  if (end < 3) return c.Usage("set needs CHIP REG VALUE");
  if (mode != "s" && end != 3) return c.Usage("MODE " + mode + " takes one VALUE");
  const auto chip = Chip(c, 0);
  const auto reg = chip ? Register(c, 1) : std::nullopt;
  if (!reg) return kExitUsage;
  std::vector<uint8_t> data;
  if (mode == "w") {
    const auto word = c.Number(2, 0xFFFF, "word");
    if (!word) return kExitUsage;
    data = {static_cast<uint8_t>(*word & 0xFF), static_cast<uint8_t>(*word >> 8)};
  } else {
    const auto bytes = c.Bytes(2, end);
    if (!bytes) return kExitUsage;
    if (bytes->size() > kSmbMaxBlockLength) return c.Usage("a block holds at most 32 bytes");
    data = *bytes;
  }
  if (!c.Open()) return c.OpenStatus();
  if (const auto declined = c.Declined("write", *chip)) return *declined;
  const uint8_t command = *reg;
  const Response response = mode == "s" ? c.Driver().BlockWrite(*chip, command, data)
                                        : c.Driver().WriteWithCommand(*chip, command, data);
  return c.Check(response, "Write") ? kExitOk : kExitFailed;
}

int Dump(Command& c) {
  if (c.Count() < 1 || c.Count() > 2) return c.Usage("dump takes CHIP [MODE]");
  const std::string mode = c.Count() == 2 ? c.Arg(1) : "b";
  if (mode != "b" && mode != "w") return c.Usage("dump MODE is b or w, not '" + mode + "'");
  const auto chip = Chip(c, 0);
  if (!chip) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  const uint8_t count = mode == "b" ? 1 : 2;
  std::vector<std::optional<uint16_t>> values(256);
  for (unsigned reg = 0; reg < 256; ++reg) {
    const Response r = c.Driver().ReadWithCommand(*chip, static_cast<uint8_t>(reg), count);
    const Probe probe = ProbeResult(r);
    if (probe == Probe::Failed) return Stopped(c, r, "Read of register " + Hex2(reg));
    if (probe == Probe::Answered) {
      values[reg] = static_cast<uint16_t>(r.reply[0] | (count == 2 ? r.reply[1] << 8 : 0));
    }
  }
  if (mode == "w") {
    c.Out() << WordDump(values);
    return kExitOk;
  }
  std::vector<std::optional<uint8_t>> bytes(256);
  for (unsigned reg = 0; reg < 256; ++reg) {
    if (values[reg]) bytes[reg] = static_cast<uint8_t>(*values[reg]);
  }
  c.Out() << ByteDump(bytes);
  return kExitOk;
}

int Read(Command& c) {
  if (c.Count() != 3) return c.Usage("read takes CHIP REG COUNT");
  const auto args = ChipRegisterCount(c, 0xFF);
  if (!args) return kExitUsage;
  if (args->count == 0) return c.Usage("COUNT is 1 to 255");
  if (!c.Open()) return c.OpenStatus();
  const Response r =
      c.Driver().ReadWithCommand(args->chip, args->reg, static_cast<uint8_t>(args->count));
  if (!c.Check(r, "Read")) return kExitFailed;
  c.Out() << ByteList(r.reply) << "\n";
  return kExitOk;
}

int Write(Command& c) {
  if (c.Count() < 3) return c.Usage("write takes CHIP REG BYTE...");
  if (c.Count() > 2 + 255) return c.Usage("at most 255 bytes");
  const auto chip = Chip(c, 0);
  const auto reg = chip ? Register(c, 1) : std::nullopt;
  const auto data = reg ? c.Bytes(2, c.Count()) : std::nullopt;
  if (!data) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  if (const auto declined = c.Declined("write", *chip)) return *declined;
  const Response r = c.Driver().WriteWithCommand(*chip, *reg, *data);
  return c.Check(r, "Write") ? kExitOk : kExitFailed;
}

int Receive(Command& c) {
  if (c.Count() < 1 || c.Count() > 2) return c.Usage("recv takes CHIP [COUNT]");
  const auto chip = Chip(c, 0);
  if (!chip) return kExitUsage;
  std::optional<uint32_t> count = 1;
  if (c.Count() == 2 && !(count = c.Number(1, 0xFF, "count"))) return kExitUsage;
  if (*count == 0) return c.Usage("COUNT is 1 to 255");
  if (!c.Open()) return c.OpenStatus();
  const Response r = c.Driver().ReceiveBytes(*chip, static_cast<uint8_t>(*count));
  if (!c.Check(r, "Receive")) return kExitFailed;
  c.Out() << ByteList(r.reply) << "\n";
  return kExitOk;
}

int Send(Command& c) {
  if (c.Count() < 2) return c.Usage("send takes CHIP BYTE...");
  if (c.Count() > 1 + 255) return c.Usage("at most 255 bytes");
  const auto chip = Chip(c, 0);
  const auto data = chip ? c.Bytes(1, c.Count()) : std::nullopt;
  if (!data) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  if (const auto declined = c.Declined("write", *chip)) return *declined;
  return c.Check(c.Driver().SendBytes(*chip, *data), "Send") ? kExitOk : kExitFailed;
}

int BlockRead(Command& c) {
  if (c.Count() != 2) return c.Usage("block-read takes CHIP REG");
  const auto chip = Chip(c, 0);
  const auto reg = chip ? Register(c, 1) : std::nullopt;
  if (!reg) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  const Response r = c.Driver().BlockRead(*chip, *reg);
  if (!c.Check(r, "Block read")) return kExitFailed;
  c.Out() << ByteList(r.reply) << "\n";
  return kExitOk;
}

int BlockWrite(Command& c) {
  if (c.Count() < 2) return c.Usage("block-write takes CHIP REG BYTE...");
  if (c.Count() > 2 + kSmbMaxBlockLength) return c.Usage("a block holds at most 32 bytes");
  const auto chip = Chip(c, 0);
  const auto reg = chip ? Register(c, 1) : std::nullopt;
  const auto data = reg ? c.Bytes(2, c.Count()) : std::nullopt;
  if (!data) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  if (const auto declined = c.Declined("write", *chip)) return *declined;
  const Response r = c.Driver().BlockWrite(*chip, *reg, *data);
  return c.Check(r, "Block write") ? kExitOk : kExitFailed;
}

int Exchange(Command& c) {
  size_t end = c.Count();
  std::optional<uint32_t> room = 40;
  if (end >= 2 && c.Arg(end - 2) == "--reply-room") {
    if (!(room = c.Number(end - 1, 0xFFFF, "reply room"))) return kExitUsage;
    end -= 2;
  }
  if (end < 1) return c.Usage("exchange takes CHIP BYTE...");
  if (end > 1 + kSmbMaxBlockLength) return c.Usage("a message holds at most 32 bytes");
  const auto chip = Chip(c, 0);
  const auto data = chip ? c.Bytes(1, end) : std::nullopt;
  if (!data) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  if (const auto declined = c.Declined("message", *chip)) return *declined;
  const Response r = c.Driver().ExchangeMessage(*chip, *data, *room);
  if (!c.Check(r, "Message exchange")) return kExitFailed;
  c.Out() << ByteList(r.reply) << "\n";
  return kExitOk;
}

int WriteMessage(Command& c) {
  if (c.Count() < 1) return c.Usage("write-message takes CHIP BYTE...");
  if (c.Count() > 1 + kSmbMaxBlockLength) return c.Usage("a message holds at most 32 bytes");
  const auto chip = Chip(c, 0);
  const auto data = chip ? c.Bytes(1, c.Count()) : std::nullopt;
  if (!data) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  if (const auto declined = c.Declined("message", *chip)) return *declined;
  return c.Check(c.Driver().WriteMessage(*chip, *data), "Message write") ? kExitOk : kExitFailed;
}

std::optional<PortWidth> WidthOf(const std::string& text) {
  if (text == "b") return PortWidth::Byte;
  if (text == "w") return PortWidth::Word;
  if (text == "d" || text == "l") return PortWidth::Dword;
  return std::nullopt;
}

uint32_t WidthMax(PortWidth width) {
  return width == PortWidth::Byte ? 0xFF : width == PortWidth::Word ? 0xFFFF : 0xFFFFFFFF;
}

std::string HexOfWidth(uint32_t value, PortWidth width) {
  return width == PortWidth::Byte   ? Hex2(value)
         : width == PortWidth::Word ? Hex4(value)
                                    : Hex8(value);
}

int Port(Command& c) {
  const bool read = c.Count() >= 1 && c.Arg(0) == "read";
  const bool write = c.Count() >= 1 && c.Arg(0) == "write";
  const size_t fixed = read ? 2 : 3;  // "read PORT" or "write PORT VALUE"
  if ((!read && !write) || c.Count() < fixed || c.Count() > fixed + 1) {
    return c.Usage("port takes read PORT [WIDTH] or write PORT VALUE [WIDTH]");
  }
  const auto width = WidthOf(c.Count() > fixed ? c.Arg(fixed) : "b");
  if (!width) return c.Usage("WIDTH is b, w or d, not '" + c.Arg(fixed) + "'");
  const auto port = c.Number(1, 0xFFFF, "port");
  if (!port) return kExitUsage;
  std::optional<uint32_t> value = 0;
  if (write && !(value = c.Number(2, WidthMax(*width), "value"))) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  if (read) {
    const Response r = c.Driver().PortRead(*width, *port);
    if (!c.Check(r, "Port read")) return kExitFailed;
    c.Out() << HexOfWidth(Client::PortValue(r, *width), *width) << "\n";
    return kExitOk;
  }
  if (const auto declined = c.Declined("port write")) return *declined;
  return c.Check(c.Driver().PortWrite(*width, *port, *value), "Port write") ? kExitOk : kExitFailed;
}

int Ioctl(Command& c) {
  if (c.Count() != 3) return c.Usage("ioctl takes CODE INPUT-HEX OUTPUT-LENGTH");
  const auto code = c.Number(0, 0xFFFFFFFF, "control code");
  if (!code) return kExitUsage;
  const auto input = ParseHexBytes(c.Arg(1));
  if (!input) return c.Usage("INPUT-HEX '" + c.Arg(1) + "' is not a list of hex bytes");
  const auto length = c.Number(2, 0x10000, "output length");
  if (!length) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  if (const auto declined = c.Declined("request")) return *declined;
  const Response r = c.Driver().Raw(*code, *input, *length);
  c.Out() << "status " << Hex8(r.status) << " " << client::StatusName(r.status) << "\n"
          << "transferred " << r.transferred << "\n"
          << "reply " << ByteList(r.reply) << "\n";
  return r.Succeeded() ? kExitOk : kExitFailed;
}

int Info(Command& c) {
  if (c.Count() != 0) return c.Usage("info takes no arguments");
  if (!c.Open()) return c.OpenStatus();
  for (const std::string& line : c.CurrentSession().Info())
    c.Out() << line << "\n";
  return kExitOk;
}

int Bench(Command& c) {
  if (c.Count() != 3) return c.Usage("bench takes CHIP REG COUNT");
  const auto args = ChipRegisterCount(c, 100000000);
  if (!args) return kExitUsage;
  if (args->count == 0) return c.Usage("COUNT is at least 1");
  if (!c.Open()) return c.OpenStatus();
  Response response;  // one reply buffer for every request
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < args->count; ++i) {
    c.Driver().ReadWithCommand(args->chip, args->reg, 1, &response);
    if (!c.Check(response, "Read")) return kExitFailed;
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const double seconds = elapsed.count() > 0 ? elapsed.count() : 1e-9;
  char line[128];
  std::snprintf(line, sizeof line, "%u read-byte requests in %.3f s: %.0f per second\n",
                args->count, seconds, args->count / seconds);
  c.Out() << line;
  return kExitOk;
}

// PCI configuration space through the configuration port pair, with the
// driver's raw port requests, so that the listing works wherever the port
// service does (simulated board, real ports, Windows).
namespace pci {
constexpr uint32_t kAddressPort = 0xCF8;
constexpr uint32_t kDataPort = 0xCFC;
constexpr uint32_t kEnable = 0x80000000;
constexpr unsigned kLastBus = 6;  // the driver looks on buses 0-6
constexpr unsigned kDevices = 32;
constexpr unsigned kFunctions = 8;
constexpr uint32_t kIdIndex = 0;     // vendor ID, device ID
constexpr uint32_t kClassIndex = 2;  // revision, programming interface, subclass, class
constexpr uint32_t kHeaderIndex = 3;
constexpr uint32_t kMultiFunction = 0x00800000;  // header type bit 7
constexpr uint32_t kSmbusClass = 0x0C05;         // serial bus controller, SMBus
constexpr uint16_t kNoVendor = 0xFFFF;

// The function each Chipset's host sits at (index: Chipset 1..10).
constexpr unsigned kHostFunction[] = {0, 0, 3, 3, 3, 0, 0, 0, 3, 4, 2};
constexpr uint32_t kLastChipset = 10;

struct Location {
  unsigned bus, device, function;
};

std::string Name(const Location& at) {
  char text[16];
  std::snprintf(text, sizeof text, "%02x:%02x.%u", at.bus, at.device, at.function);
  return text;
}

struct Function {
  Location at;
  uint32_t id, classCode, header;
  bool Smbus() const { return classCode >> 16 == kSmbusClass; }
  bool operator==(const Function& o) const {
    return id == o.id && classCode == o.classCode && header == o.header;
  }
};

// Reads one configuration dword; false after saying why the port request
// failed.
bool Read(Command& c, const Location& at, uint32_t index, uint32_t* value) {
  const uint32_t address = kEnable | at.bus << 16 | at.device << 11 | at.function << 8 | index << 2;
  if (!c.Check(c.Driver().PortWrite(PortWidth::Dword, kAddressPort, address), "Port write")) {
    return false;
  }
  const Response r = c.Driver().PortRead(PortWidth::Dword, kDataPort);
  if (!c.Check(r, "Port read")) return false;
  *value = Client::PortValue(r, PortWidth::Dword);
  return true;
}

// The function at `at`, nullopt in `*found` when nothing answers there.
bool Probe(Command& c, const Location& at, std::optional<Function>* found) {
  Function f{at, 0, 0, 0};
  found->reset();
  if (!Read(c, at, kIdIndex, &f.id)) return false;
  const uint16_t vendor = static_cast<uint16_t>(f.id);
  if (vendor == kNoVendor || vendor == 0) return true;
  if (!Read(c, at, kClassIndex, &f.classCode) || !Read(c, at, kHeaderIndex, &f.header)) {
    return false;
  }
  *found = f;
  return true;
}

// Every function of buses 0-6. A single-function device may answer at every
// function number with function 0's registers; such copies are left out.
bool Scan(Command& c, std::vector<Function>* functions) {
  for (unsigned bus = 0; bus <= kLastBus; ++bus) {
    for (unsigned device = 0; device < kDevices; ++device) {
      std::optional<Function> first;
      for (unsigned function = 0; function < kFunctions; ++function) {
        std::optional<Function> f;
        if (!Probe(c, {bus, device, function}, &f)) return false;
        if (function == 0) first = f;
        if (!f) continue;
        if (function != 0 && first && !(first->header & kMultiFunction) && *first == *f) continue;
        functions->push_back(*f);
      }
    }
  }
  return true;
}

std::string IdText(uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", id & 0xFFFF, id >> 16);
  return text;
}

std::string ClassText(uint32_t classCode) {
  char text[8];
  std::snprintf(text, sizeof text, "%06x", classCode >> 8);
  return text;
}

// "BB:DD.F" in hex, as lspci prints it.
std::optional<Location> ParseLocation(const std::string& text) {
  unsigned bus = 0, device = 0, function = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2x:%2x.%1u%c", &bus, &device, &function, &tail) != 3) {
    return std::nullopt;
  }
  if (device >= kDevices || function >= kFunctions) return std::nullopt;
  return Location{bus, device, function};
}

std::string Dword(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "dword:%08x", value);
  return text;
}

// Chipset codes whose host sits at `function`, as "2, 3, 4 or 8".
std::string ChipsetsAt(unsigned function) {
  std::vector<uint32_t> codes;
  for (uint32_t chipset = 1; chipset <= kLastChipset; ++chipset) {
    if (kHostFunction[chipset] == function) codes.push_back(chipset);
  }
  std::string text;
  for (size_t i = 0; i < codes.size(); ++i) {
    text += i == 0 ? "" : i + 1 == codes.size() ? " or " : ", ";
    text += std::to_string(codes[i]);
  }
  return text;
}

void PrintRegFile(Command& c, const Function& f, std::optional<uint32_t> chipset) {
  std::ostream& out = c.Out();
  out << "REGEDIT4\n\n"
      << "; PCI " << Name(f.at) << ", " << IdText(f.id) << ", class " << ClassText(f.classCode)
      << (f.Smbus() ? " (SMBus controller)" : "") << "\n"
      << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters]\n"
      << "\"ISAPortDriverEnable\"=" << Dword(1) << "\n"
      << "\"I2CDriverEnable\"=" << Dword(1) << "\n";
  if (chipset) {
    out << "\"Chipset\"=" << Dword(*chipset) << "\n";
  } else {
    const std::string candidates = ChipsetsAt(f.at.function);
    out << "; The host kind cannot be detected: set Chipset (1-10) by the controller.\n";
    if (!candidates.empty()) {
      out << "; Hosts at function " << f.at.function << ": Chipset " << candidates << ".\n";
    }
    out << ";\"Chipset\"=" << Dword(0) << "\n";
  }
  out << "\"VID\"=" << Dword(f.id & 0xFFFF) << "\n"
      << "\"DID\"=" << Dword(f.id >> 16) << "\n"
      << "\"Func\"=" << Dword(f.at.function) << "\n";
}

}  // namespace pci

int Pci(Command& c) {
  if (c.Count() > 2) return c.Usage("pci takes [BB:DD.F [CHIPSET]]");
  std::optional<pci::Location> chosen;
  if (c.Count() >= 1 && !(chosen = pci::ParseLocation(c.Arg(0)))) {
    return c.Usage("'" + c.Arg(0) + "' is not a PCI function BB:DD.F (hex, as 00:1f.3)");
  }
  if (chosen && chosen->bus > pci::kLastBus) {
    return c.Usage("the driver finds its controller on buses 0-6 only");
  }
  std::optional<uint32_t> chipset;
  if (c.Count() == 2 && !(chipset = c.Number(1, pci::kLastChipset, "Chipset"))) return kExitUsage;
  if (chipset && *chipset == 0) return c.Usage("CHIPSET is 1 to 10");
  if (!c.Open()) return c.OpenStatus();
  if (chosen) {
    std::optional<pci::Function> f;
    if (!pci::Probe(c, *chosen, &f)) return kExitFailed;
    if (!f) {
      c.Err() << "Error: no PCI function answers at " << pci::Name(*chosen) << "\n";
      return kExitFailed;
    }
    pci::PrintRegFile(c, *f, chipset);
    return kExitOk;
  }
  std::vector<pci::Function> functions;
  if (!pci::Scan(c, &functions)) return kExitFailed;
  if (functions.empty()) {
    c.Err() << "Error: no PCI function answered on buses 0-6\n";
    return kExitFailed;
  }
  c.Out() << "BB:DD.F  VID:DID    class\n";
  for (const pci::Function& f : functions) {
    c.Out() << pci::Name(f.at) << "  " << pci::IdText(f.id) << "  " << pci::ClassText(f.classCode)
            << (f.Smbus() ? "  SMBus controller" : "") << "\n";
  }
  return kExitOk;
}

int Run(const std::string& name, Command& c) {
  if (name == "detect") return Detect(c);
  if (name == "get") return Get(c);
  if (name == "set") return Set(c);
  if (name == "dump") return Dump(c);
  if (name == "read") return Read(c);
  if (name == "write") return Write(c);
  if (name == "recv") return Receive(c);
  if (name == "send") return Send(c);
  if (name == "block-read") return BlockRead(c);
  if (name == "block-write") return BlockWrite(c);
  if (name == "exchange") return Exchange(c);
  if (name == "write-message") return WriteMessage(c);
  if (name == "port") return Port(c);
  if (name == "ioctl") return Ioctl(c);
  if (name == "bench") return Bench(c);
  if (name == "pci") return Pci(c);
  if (name == "info") return Info(c);
  return c.Usage("'" + name + "' is not run this way");
}

bool TakesChipFirst(const std::string& name) {
  for (const char* command : {"detect", "get", "set", "dump", "read", "write", "recv", "send",
                              "block-read", "block-write", "exchange", "write-message", "bench"}) {
    if (name == command) return true;
  }
  return false;
}

}  // namespace

const std::vector<CommandInfo>& Commands() {
  return kCommands;
}

int RunCommand(const std::vector<std::string>& words, SessionSource& sessions,
               const GlobalOptions& options, CliIo io) {
  const auto info = std::find_if(kCommands.begin(), kCommands.end(), [&](const CommandInfo& i) {
    return words[0] == i.name && words[0] != std::string("shell");
  });
  if (info == kCommands.end()) {
    io.err << "Error: unknown command '" << words[0] << "'. Try 'omzi2c --help'.\n";
    return kExitUsage;
  }
  const std::vector<std::string> args(words.begin() + 1, words.end());
  if (std::find(args.begin(), args.end(), "--help") != args.end() ||
      std::find(args.begin(), args.end(), "-h") != args.end()) {
    io.out << "Usage: omzi2c " << info->usage << "\n" << info->summary << ".\n" << info->details;
    return kExitOk;
  }
  if (TakesChipFirst(words[0]) && ExplainBusNumber(words[0], args, io.err)) return kExitUsage;
  Command command(*info, args, sessions, options, io);
  return Run(words[0], command);
}

}  // namespace omzi2c::tool
