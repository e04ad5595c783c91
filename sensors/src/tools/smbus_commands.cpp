// The SMBus commands: bus scan, register reads and writes, dumps, blocks
// and messages.
#include <omzi2c/omzi2c.h>

#include "decode/bus_reader.h"
#include "tools/command.h"

namespace omzi2c::tool {

namespace {

constexpr unsigned kLastChip = 0x7F;
constexpr unsigned kRegisters = 256;

using decode::Probe;
using decode::ProbeResult;

// Says why a scan or dump stopped; the exit status.
int Stopped(Command& c, const Response& response, const std::string& what) {
  c.Check(response, what);
  c.Err() << "Error: " << c.Name() << " stopped: a failure other than 'no device there'\n";
  return kExitFailed;
}

constexpr char kSetModes[] = "set's MODE is b (byte), w (word) or s (block, VALUE...)";

bool IsMode(const std::string& text) {
  return text == "b" || text == "w" || text == "c" || text == "s";
}

}  // namespace

int Detect(Command& c) {
  if (c.Count() != 0 && c.Count() != 2) return c.Usage("detect takes no arguments, or FIRST LAST");
  const bool all = c.Options().allAddresses;
  const unsigned lowest = all ? 0x00 : kFirstOrdinaryChip;
  const unsigned highest = all ? kLastChip : kLastOrdinaryChip;
  std::optional<uint32_t> first = lowest, last = highest;
  if (c.Count() == 2) {
    first = c.Number(0, kLastChip, "first address");
    last = first ? c.Number(1, kLastChip, "last address") : std::nullopt;
    if (!last) return kExitUsage;
    if (*first < lowest || *last > highest || *first > *last) {
      return c.Usage("FIRST and LAST are " + Hex2(lowest) + "-" + Hex2(highest) +
                     (all ? "" : " (0x00-0x7f with -a)") + ", FIRST up to LAST");
    }
  }
  if (!c.Open()) return c.OpenStatus();
  std::vector<bool> found(0x80, false);
  for (unsigned chip = *first; chip <= *last; ++chip) {
    const uint8_t address = static_cast<uint8_t>(chip);
    // No quick command: a receive byte first, then a read byte at register 0
    // for chips that only answer register reads.
    Response r = c.Driver().ReceiveBytes(address, 1);
    Probe probe = ProbeResult(r);
    if (probe == Probe::kAbsent) probe = ProbeResult(r = c.Driver().ReadWithCommand(address, 0, 1));
    if (probe == Probe::kFailed) return Stopped(c, r, "Probe of chip " + Hex2(chip));
    found[chip] = probe == Probe::kAnswered;
  }
  c.Out() << DetectGrid(found, *first, *last);
  return kExitOk;
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
    if (!c.CheckWrite(c.Driver().SendBytes(*chip, {command}), "Write", *chip)) return kExitFailed;
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
  // A last word that is no number is the MODE.
  const bool moded = end >= 4 && !ParseNumber(c.Arg(end - 1), UINT32_MAX);
  const std::string mode = moded || (end >= 3 && IsMode(c.Arg(end - 1))) ? c.Arg(--end) : "b";
  if (mode == "c") {
    return c.Usage("MODE c is not a write mode here (use 'send CHIP BYTE'); " +
                   std::string(kSetModes));
  }
  if (!IsMode(mode)) return c.Usage(std::string(kSetModes) + ", not '" + mode + "'");
  if (end < 3) return c.Usage("set needs CHIP REG VALUE");
  if (mode != "s" && end != 3) {
    return c.Usage("MODE " + mode + " takes one VALUE (" + kSetModes + ")");
  }
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
  const std::string shown = mode == "w" ? Hex4(data[0] | data[1] << 8) : ByteList(data);
  const std::string modeName = mode == "w" ? "word" : mode == "s" ? "block" : "byte";
  if (const auto declined = c.Declined("write", WriteIntent(*chip, *reg, shown, modeName), *chip)) {
    return *declined;
  }
  const uint8_t command = *reg;
  const Response response = mode == "s" ? c.Driver().BlockWrite(*chip, command, data)
                                        : c.Driver().WriteWithCommand(*chip, command, data);
  return c.CheckWrite(response, "Write", *chip, command) ? kExitOk : kExitFailed;
}

// Registers FIRST-LAST of dump's -r, each 0x00-0xff.
bool DumpRange(Command& c, size_t i, unsigned* first, unsigned* last) {
  const std::string& text = c.Arg(i);
  const size_t dash = text.find('-');
  const auto from =
      dash == std::string::npos ? std::nullopt : ParseNumber(text.substr(0, dash), 0xFF);
  const auto to = from ? ParseNumber(text.substr(dash + 1), 0xFF) : std::nullopt;
  if (!to || *from > *to) {
    c.Usage("-r takes FIRST-LAST, registers 0x00-0xff with FIRST up to LAST, not '" + text + "'");
    return false;
  }
  *first = *from;
  *last = *to;
  return true;
}

// The table of the registers read, first..last.
void PrintDump(Command& c, bool words, const std::vector<std::optional<uint16_t>>& values,
               unsigned first, unsigned last) {
  if (words) {
    c.Out() << WordDump(values, first, last);
    return;
  }
  std::vector<std::optional<uint8_t>> bytes(values.size());
  for (unsigned reg = 0; reg < values.size(); ++reg) {
    if (values[reg]) bytes[reg] = static_cast<uint8_t>(*values[reg]);
  }
  c.Out() << ByteDump(bytes, first, last);
}

int Dump(Command& c) {
  size_t end = c.Count();
  unsigned first = 0, last = kRegisters - 1;
  if (end >= 2 && c.Arg(end - 2) == "-r") {
    if (!DumpRange(c, end - 1, &first, &last)) return kExitUsage;
    end -= 2;
  }
  if (end < 1 || end > 2) return c.Usage("dump takes CHIP [MODE] [-r FIRST-LAST]");
  const std::string mode = end == 2 ? c.Arg(1) : "b";
  if (mode != "b" && mode != "w") return c.Usage("dump MODE is b or w, not '" + mode + "'");
  const auto chip = Chip(c, 0);
  if (!chip) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  const uint8_t count = mode == "b" ? 1 : 2;
  std::vector<std::optional<uint16_t>> values(kRegisters);
  for (unsigned reg = first; reg <= last; ++reg) {
    const Response r = c.Driver().ReadWithCommand(*chip, static_cast<uint8_t>(reg), count);
    const Probe probe = ProbeResult(r);
    if (probe == Probe::kFailed) {
      // What was read before the failure is shown, then why it stopped.
      if (reg > first) PrintDump(c, mode == "w", values, first, reg - 1);
      return Stopped(c, r, "Read of register " + Hex2(reg));
    }
    if (probe == Probe::kAnswered) {
      values[reg] = static_cast<uint16_t>(r.reply[0] | (count == 2 ? r.reply[1] << 8 : 0));
    }
  }
  PrintDump(c, mode == "w", values, first, last);
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
  const std::string mode = data->size() == 2 ? "word" : "byte, one register after another";
  if (const auto declined =
          c.Declined("write", WriteIntent(*chip, *reg, ByteList(*data), mode), *chip)) {
    return *declined;
  }
  const Response r = c.Driver().WriteWithCommand(*chip, *reg, *data);
  return c.CheckWrite(r, "Write", *chip, *reg) ? kExitOk : kExitFailed;
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
  const std::string intent = WriteIntent(*chip, std::nullopt, ByteList(*data), "send byte");
  if (const auto declined = c.Declined("write", intent, *chip)) return *declined;
  return c.CheckWrite(c.Driver().SendBytes(*chip, *data), "Send", *chip) ? kExitOk : kExitFailed;
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
  if (c.Count() < 3) return c.Usage("block-write takes CHIP REG BYTE... (at least one BYTE)");
  if (c.Count() > 2 + kSmbMaxBlockLength) return c.Usage("a block holds at most 32 bytes");
  const auto chip = Chip(c, 0);
  const auto reg = chip ? Register(c, 1) : std::nullopt;
  const auto data = reg ? c.Bytes(2, c.Count()) : std::nullopt;
  if (!data) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  const std::string intent = WriteIntent(*chip, *reg, ByteList(*data), "block");
  if (const auto declined = c.Declined("write", intent, *chip)) return *declined;
  const Response r = c.Driver().BlockWrite(*chip, *reg, *data);
  return c.CheckWrite(r, "Block write", *chip, *reg) ? kExitOk : kExitFailed;
}

int Exchange(Command& c) {
  size_t end = c.Count();
  std::optional<uint32_t> room = 40;
  if (end >= 2 && c.Arg(end - 2) == "--reply-room") {
    if (!(room = c.Number(end - 1, 0xFFFF, "reply room"))) return kExitUsage;
    end -= 2;
  }
  if (end < 2) return c.Usage("exchange takes CHIP BYTE... (at least one BYTE)");
  if (end > 1 + kSmbMaxBlockLength) return c.Usage("a message holds at most 32 bytes");
  const auto chip = Chip(c, 0);
  const auto data = chip ? c.Bytes(1, end) : std::nullopt;
  if (!data) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  const std::string intent = WriteIntent(*chip, std::nullopt, ByteList(*data), "message exchange");
  if (const auto declined = c.Declined("message", intent, *chip)) return *declined;
  const Response r = c.Driver().ExchangeMessage(*chip, *data, *room);
  if (!c.Check(r, "Message exchange")) return kExitFailed;
  c.Out() << ByteList(r.reply) << "\n";
  return kExitOk;
}

int WriteMessage(Command& c) {
  if (c.Count() < 2) return c.Usage("write-message takes CHIP BYTE... (at least one BYTE)");
  if (c.Count() > 1 + kSmbMaxBlockLength) return c.Usage("a message holds at most 32 bytes");
  const auto chip = Chip(c, 0);
  const auto data = chip ? c.Bytes(1, c.Count()) : std::nullopt;
  if (!data) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  const std::string intent = WriteIntent(*chip, std::nullopt, ByteList(*data), "message");
  if (const auto declined = c.Declined("message", intent, *chip)) return *declined;
  const Response r = c.Driver().WriteMessage(*chip, *data);
  return c.CheckWrite(r, "Message write", *chip) ? kExitOk : kExitFailed;
}
}  // namespace omzi2c::tool
