// What every command is built from: its arguments, the session it opens,
// the confirmation before writes and the report of a failed request; and the
// commands themselves, one function each.
#pragma once

#include <omzi2c/omzi2c.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/format.h"

namespace omzi2c::tool {

using client::Client;
using client::DescribeStatus;
using client::PortWidth;
using client::Response;

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
  // i2cset does; 2 when a shell has no terminal to ask on). `intent` says
  // what will be written ("I will write to chip address 0x50, ..."); for a
  // chip, the question also names the host it goes through.
  std::optional<int> Declined(const std::string& what, const std::string& intent,
                              std::optional<unsigned> chip = {}) {
    if (!session_->RealHardware() || options_.yes) return std::nullopt;
    const std::string where = chip ? ",\non " + session_->HostDescription() : "";
    const std::optional<std::string> answer =
        Ask(Warning(what, chip) + intent + where + ".\nContinue? [y/N] ");
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

  // Reports a failed write to `chip` (at `reg`, where there is one): the
  // driver writes an error reply for reads only, so the status is all there
  // is to show, with where the write went. True when it succeeded.
  bool CheckWrite(const Response& response, const std::string& what, uint8_t chip,
                  std::optional<uint8_t> reg = {}) {
    if (Check(response, what)) return true;
    io_.err << "  the write to chip " << Hex2(chip)
            << (reg ? ", register " + Hex2(*reg) : std::string()) << " failed with that status"
            << " (writes get no error reply with the host's own report)\n";
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
std::optional<uint8_t> Chip(Command& c, size_t i);
// "BUS CHIP ..." as i2cget and friends take it: says so on `err`, true then.
bool ExplainBusNumber(const std::string& command, const std::vector<std::string>& args,
                      std::ostream& err);
// Register argument i.
std::optional<uint8_t> Register(Command& c, size_t i);

// What a write will do, as i2cset says it before asking: "I will write to
// chip address 0x50, data address 0x10, data 0x12, mode byte" (no data
// address when `reg` is empty).
std::string WriteIntent(uint8_t chip, std::optional<uint8_t> reg, const std::string& data,
                        const std::string& mode);

// CHIP REG COUNT, as read and bench take them.
struct ChipRegisterCountArgs {
  uint8_t chip;
  uint8_t reg;
  uint32_t count;
};
std::optional<ChipRegisterCountArgs> ChipRegisterCount(Command& c, uint32_t maxCount);

// The SMBus commands.
int Detect(Command& c);
int Get(Command& c);
int Set(Command& c);
int Dump(Command& c);
int Read(Command& c);
int Write(Command& c);
int Receive(Command& c);
int Send(Command& c);
int BlockRead(Command& c);
int BlockWrite(Command& c);
int Exchange(Command& c);
int WriteMessage(Command& c);

// The port, raw request, info and bench commands.
int Port(Command& c);
int Ioctl(Command& c);
int Info(Command& c);
int Bench(Command& c);

// The PCI listing.
int Pci(Command& c);

// The decoding scans.
int Sensors(Command& c);
int Spd(Command& c);

}  // namespace omzi2c::tool
