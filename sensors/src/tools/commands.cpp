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
     "Probes addresses 0x03-0x77 with a receive byte, then a read byte at\n"
     "register 0 where that failed, and prints the 16-column grid: the address\n"
     "where a device answered, -- elsewhere.\n"},
    {"get", "get CHIP [REG [MODE]]", "read one register (MODE b byte, w word, c, s block)",
     "Without REG: receive byte. MODE b (default): read byte at REG; w: read word\n"
     "(low byte first on the bus); c: send REG as a byte, then receive byte;\n"
     "s: SMBus block read at REG. Prints the value in hex.\n"},
    {"set", "set CHIP REG VALUE... [MODE]", "write one register (MODE b, w, s block)",
     "MODE b (default): write byte VALUE at REG; w: write word VALUE; s: block\n"
     "write of the VALUEs (at most 32). Asks before writing to real hardware.\n"},
    {"dump", "dump CHIP [MODE]", "read registers 0x00-0xff (MODE b or w)",
     "Prints the 256-register table with an ASCII column; XX where a read failed.\n"
     "MODE w reads a word at each register.\n"},
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
    {"bench", "bench CHIP REG COUNT", "time COUNT read-byte requests at REG",
     "Prints how many read-byte requests per second went through the driver,\n"
     "timed by the wall clock (on the simulated board pauses take no time).\n"},
    {"shell", "shell", "read commands from standard input, one session for all", ""},
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
    std::optional<uint32_t> value = ParseNumber(args_[i], max);
    if (!value) {
      io_.err << "Error: " << what << " '" << args_[i] << "' is not a number in 0-" << Hex2(max)
              << "\nUsage: omzi2c " << info_.usage << "\n";
    }
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
    session_ = sessions_.Get(&status);
    openStatus_ = status;
    return session_;
  }
  int OpenStatus() const { return openStatus_; }

  // On real hardware, asks before a write unless -y was given.
  bool Confirm(const std::string& what, std::optional<unsigned> chip = std::nullopt) {
    if (!session_->RealHardware() || options_.yes) return true;
    io_.err << "WARNING! This " << what << " goes to real hardware and can confuse the bus,\n"
            << "cause data loss and worse.\n";
    if (chip && *chip >= 0x50 && *chip <= 0x57) {
      io_.err << "DANGER! Chip " << Hex2(*chip) << " is usually a memory module's EEPROM:\n"
              << "writing it can leave the module, and the machine, unable to start.\n";
    }
    io_.err << "Continue? [y/N] " << std::flush;
    std::string answer;
    std::getline(io_.in, answer);
    if (!answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) return true;
    io_.err << "Aborted.\n";
    return false;
  }

  // Reports a failed request; true when it succeeded.
  bool Check(const Response& response, const std::string& what) {
    if (response.Succeeded()) return true;
    io_.err << "Error: " << what << " failed: " << DescribeStatus(response.status) << "\n";
    return false;
  }

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

// Chip address argument i.
std::optional<uint8_t> Chip(Command& c, size_t i) {
  std::optional<uint32_t> chip = c.Number(i, 0x7F, "chip address");
  if (!chip) return std::nullopt;
  return static_cast<uint8_t>(*chip);
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

int Detect(Command& c) {
  if (c.Count() != 0) return c.Usage("detect takes no arguments");
  if (!c.Open()) return c.OpenStatus();
  std::vector<bool> found(0x80, false);
  for (unsigned chip = kFirstProbedChip; chip <= kLastProbedChip; ++chip) {
    const uint8_t address = static_cast<uint8_t>(chip);
    // No quick command: a receive byte first, then a read byte at register 0
    // for chips that only answer register reads.
    found[chip] = c.Driver().ReceiveBytes(address, 1).Succeeded() ||
                  c.Driver().ReadWithCommand(address, 0, 1).Succeeded();
  }
  c.Out() << DetectGrid(found, kFirstProbedChip, kLastProbedChip);
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
  if (!c.Confirm("write", *chip)) return kExitFailed;
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
  if (mode == "b") {
    std::vector<std::optional<uint8_t>> values(256);
    for (unsigned reg = 0; reg < 256; ++reg) {
      const Response r = c.Driver().ReadWithCommand(*chip, static_cast<uint8_t>(reg), 1);
      if (r.Succeeded()) values[reg] = r.reply[0];
    }
    c.Out() << ByteDump(values);
    return kExitOk;
  }
  std::vector<std::optional<uint16_t>> values(256);
  for (unsigned reg = 0; reg < 256; ++reg) {
    const Response r = c.Driver().ReadWithCommand(*chip, static_cast<uint8_t>(reg), 2);
    if (r.Succeeded()) values[reg] = static_cast<uint16_t>(r.reply[0] | (r.reply[1] << 8));
  }
  c.Out() << WordDump(values);
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
  if (!c.Confirm("write", *chip)) return kExitFailed;
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
  if (!c.Confirm("write", *chip)) return kExitFailed;
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
  if (!c.Confirm("write", *chip)) return kExitFailed;
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
  if (!c.Confirm("message", *chip)) return kExitFailed;
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
  if (!c.Confirm("message", *chip)) return kExitFailed;
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
  if (!c.Confirm("port write")) return kExitFailed;
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
  if (!c.Confirm("request")) return kExitFailed;
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
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < args->count; ++i) {
    if (!c.Check(c.Driver().ReadWithCommand(args->chip, args->reg, 1), "Read")) {
      return kExitFailed;
    }
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const double seconds = elapsed.count() > 0 ? elapsed.count() : 1e-9;
  char line[128];
  std::snprintf(line, sizeof line, "%u read-byte requests in %.3f s: %.0f per second\n",
                args->count, seconds, args->count / seconds);
  c.Out() << line;
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
  return Info(c);
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
  Command command(*info, args, sessions, options, io);
  return Run(words[0], command);
}

}  // namespace omzi2c::tool
