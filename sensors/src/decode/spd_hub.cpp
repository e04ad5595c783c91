#include "decode/spd_hub.h"

#include <cstdio>

namespace omzi2c::decode {

namespace {

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", value);
  return text;
}

void StoppedAnswering(const BusReader& bus, uint8_t chip, std::vector<std::string>* notes) {
  if (!bus.Failed()) notes->push_back("chip " + Hex2(chip) + " stopped answering; skipped");
}

// A 16-bit sensor register, low byte first: bits 12:2 count quarter degrees
// in two's complement.
double Celsius(uint8_t low, uint8_t high) {
  constexpr int kCountBits = 0x7FF, kSignBit = 0x400;
  constexpr double kDegreesPerCount = 0.25;
  int count = ((low | high << 8) >> 2) & kCountBits;
  if (count & kSignBit) count -= 2 * kSignBit;
  return count * kDegreesPerCount;
}

// JEP-106 bytes: seven bits and a parity bit that makes the ones odd.
bool OddParity(uint8_t byte) {
  unsigned ones = 0;
  for (unsigned bit = 0; bit < 8; ++bit)
    ones += (byte >> bit) & 1u;
  return ones % 2 == 1;
}

}  // namespace

bool IsSpdHub(BusReader& bus, uint8_t chip) {
  const auto type = bus.Bytes(chip, hub::kDeviceType, 2);
  if (!type || (*type)[0] != hub::kTypeHigh || (*type)[1] != hub::kTypeLow) return false;
  // MR2-MR5: the revision, a JEP-106 vendor (bank and code each with odd
  // parity) and the capabilities, whose upper six bits are reserved. A DDR3
  // or DDR4 EEPROM whose first bytes happen to read 0x51 0x18 (a DDR4 one
  // left on its upper page, say) seldom passes these too.
  const auto more = bus.Bytes(chip, hub::kRevision, 4);
  if (!more) return false;
  const uint8_t bank = (*more)[1], code = (*more)[2], capability = (*more)[3];
  const uint8_t id = code & 0x7F;
  return OddParity(bank) && OddParity(code) && id != 0 && id != 0x7F &&
         (capability & hub::kCapabilityReserved) == 0;
}

std::optional<std::vector<uint8_t>> ReadHubMemory(BusReader& bus, uint8_t chip,
                                                  std::vector<std::string>* notes) {
  const auto mode = bus.Byte(chip, hub::kLegacyMode);
  if (!mode) {
    StoppedAnswering(bus, chip, notes);
    return std::nullopt;
  }
  if (*mode & hub::kTwoByteAddressing) {
    notes->push_back("the SPD hub at " + Hex2(chip) +
                     " is in two-byte addressing mode; its memory is not read");
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  uint8_t selected = *mode;
  for (unsigned page = 0; page < hub::kPages; ++page) {
    const auto want = static_cast<uint8_t>((*mode & ~hub::kPageMask) | page);
    if (want != selected && !bus.WriteByte(chip, hub::kLegacyMode, want)) break;
    selected = want;
    const auto part = bus.Bytes(chip, hub::kMemoryWindow, hub::kPageSize);
    if (!part) break;
    bytes.insert(bytes.end(), part->begin(), part->end());
  }
  // The page other software left selected, selected again.
  const bool restored = selected == *mode || bus.Restore(chip, hub::kLegacyMode, *mode);
  if (bytes.size() != hub::kPages * hub::kPageSize || !restored) {
    StoppedAnswering(bus, chip, notes);
    return std::nullopt;
  }
  return bytes;
}

Reading DecodeHubTemperature(const std::vector<uint8_t>& temperature,
                             const std::vector<uint8_t>& limits, uint8_t config, uint8_t status) {
  Reading r;
  r.label = "temp1";
  r.unit = Unit::kCelsius;
  if (!(config & hub::kSensorOff)) r.value = Celsius(temperature[0], temperature[1]);
  r.high = Celsius(limits[0], limits[1]);
  r.low = Celsius(limits[2], limits[3]);
  r.critical = Celsius(limits[4], limits[5]);
  r.lowCritical = Celsius(limits[6], limits[7]);
  const struct {
    uint8_t bit;
    const char* name;
  } flags[] = {{hub::kBelowLow, "low"},
               {hub::kAboveHigh, "high"},
               {hub::kAboveCritical, "critical"},
               {hub::kBelowLowCritical, "low critical"}};
  for (const auto& flag : flags) {
    if (status & flag.bit) r.alarms.push_back(flag.name);
  }
  return r;
}

std::optional<ChipReport> ReadHubSensor(BusReader& bus, uint8_t chip,
                                        std::vector<std::string>* notes) {
  if (!IsSpdHub(bus, chip)) return std::nullopt;
  const auto vendor = bus.Bytes(chip, hub::kVendor, 2);
  const auto capability = vendor ? bus.Byte(chip, hub::kCapability) : std::nullopt;
  if (capability && !(*capability & hub::kSensorSupported)) return std::nullopt;
  const auto config = capability ? bus.Byte(chip, hub::kSensorConfig) : std::nullopt;
  const auto limits = config ? bus.Bytes(chip, hub::kLimits, hub::kLimitBytes) : std::nullopt;
  const auto temperature = limits ? bus.Bytes(chip, hub::kTemperature, 2) : std::nullopt;
  const auto status = temperature ? bus.Byte(chip, hub::kStatus) : std::nullopt;
  if (!status) {
    StoppedAnswering(bus, chip, notes);
    return std::nullopt;
  }
  constexpr unsigned kDeviceType = hub::kTypeHigh << 8 | hub::kTypeLow;
  return ChipReport{chip,
                    "spd5118",
                    "DDR5 SPD hub",
                    {{"device type", kDeviceType, 4},
                     {"vendor", static_cast<unsigned>((*vendor)[0] << 8 | (*vendor)[1]), 4}},
                    {DecodeHubTemperature(*temperature, *limits, *config, *status)}};
}

}  // namespace omzi2c::decode
