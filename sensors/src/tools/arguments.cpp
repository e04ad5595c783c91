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
