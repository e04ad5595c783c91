// Arguments the commands share: chip addresses, i2c-tools bus numbers,
// registers.
#include "tools/command.h"

namespace omzi2c::tool {

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

namespace {

bool IsI2cDevice(const std::string& word) {
  return word.rfind("i2c-", 0) == 0;
}

// A number as people write bus numbers: plain decimal ("0x" and a leading 0
// mean a chip address written the C way).
bool IsPlainDecimal(const std::string& word) {
  return !word.empty() && word.find_first_not_of("0123456789") == std::string::npos &&
         (word.size() == 1 || word[0] != '0');
}

bool IsWrittenInHex(const std::string& word) {
  return word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
}

// An i2c-tools bus before a chip address: "i2c-N"; a decimal 0-7 (which would
// be a reserved chip); or any decimal followed by a chip written in hex, as
// i2cset's "9 0x50" is written, whatever the bus's value.
bool BusBeforeChip(const std::vector<std::string>& args) {
  const std::optional<uint32_t> chip = ParseNumber(args[1], kLastOrdinaryChip);
  if (!chip || *chip < kFirstOrdinaryChip) return false;
  if (IsI2cDevice(args[0])) return true;
  if (!IsPlainDecimal(args[0])) return false;
  return (args[0].size() == 1 && args[0][0] <= '7') || IsWrittenInHex(args[1]);
}

}  // namespace

// "BUS CHIP ..." as i2cget and friends take it, which would otherwise reach
// the wrong chip (0 0x50 0x12 would write to the general-call address, 9
// 0x50 0x12 to register 0x50 of chip 0x09). detect takes FIRST LAST, two
// addresses: only a lone number or one before them is a bus.
bool ExplainBusNumber(const std::string& command, const std::vector<std::string>& args,
                      std::ostream& err) {
  if (command == "detect") {
    if (args.size() == 2 || args.empty()) return false;
    if (!IsI2cDevice(args[0]) && !IsPlainDecimal(args[0])) return false;
    err << "Error: '" << args[0] << "' looks like an i2c-tools bus number: omzi2c works on\n"
        << "the one bus its driver serves; run 'omzi2c detect' without it (FIRST LAST, if\n"
        << "given, are two chip addresses)\n";
    return true;
  }
  if (args.size() < 2 || !BusBeforeChip(args)) return false;
  err << "Error: '" << args[0] << " " << args[1] << "' looks like an i2c-tools bus number and\n"
      << "chip address: omzi2c works on the one bus its driver serves, so leave the bus\n"
      << "number out (omzi2c " << command << " " << args[1] << " ...).\n";
  const std::optional<uint32_t> chip = ParseNumber(args[0], 0x7F);
  if (!IsI2cDevice(args[0]) && chip) {
    const bool reserved = *chip < kFirstOrdinaryChip || *chip > kLastOrdinaryChip;
    err << "To address chip " << Hex2(*chip) << " itself, write it in hex"
        << (reserved ? " and give -a" : " (omzi2c " + command + " " + Hex2(*chip) + " ...)")
        << ".\n";
  }
  return true;
}

// Register argument i.
std::optional<uint8_t> Register(Command& c, size_t i) {
  std::optional<uint32_t> reg = c.Number(i, 0xFF, "register");
  if (!reg) return std::nullopt;
  return static_cast<uint8_t>(*reg);
}

std::optional<ChipRegisterCountArgs> ChipRegisterCount(Command& c, uint32_t maxCount) {
  const auto chip = Chip(c, 0);
  const auto reg = chip ? Register(c, 1) : std::nullopt;
  const auto count = reg ? c.Number(2, maxCount, "count") : std::nullopt;
  if (!count) return std::nullopt;
  return ChipRegisterCountArgs{*chip, *reg, *count};
}

std::string WriteIntent(uint8_t chip, std::optional<uint8_t> reg, const std::string& data,
                        const std::string& mode) {
  std::string text = "I will write to chip address " + Hex2(chip);
  if (reg) text += ", data address " + Hex2(*reg);
  return text + ", data " + data + ", mode " + mode;
}

}  // namespace omzi2c::tool
