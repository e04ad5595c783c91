#include "decode/scan.h"

#include <cstdio>

#include "decode/chip_tables.h"
#include "decode/spd_hub.h"

namespace omzi2c::decode {

namespace {

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

std::string StoppedAnswering(uint8_t chip) {
  return "chip " + Hex(chip, 2) + " stopped answering; skipped";
}

std::optional<ChipReport> ReadTemperatureSensor(BusReader& bus, uint8_t chip,
                                                std::vector<std::string>* notes) {
  const auto manufacturer = bus.WordHighFirst(chip, jc42::kManufacturer);
  const auto device = manufacturer ? bus.WordHighFirst(chip, jc42::kDevice) : std::nullopt;
  if (!device) return std::nullopt;
  const TemperatureSensorPart* part = FindTemperatureSensor(*manufacturer, *device);
  if (!part) return std::nullopt;
  std::array<uint16_t, jc42::kRegisters> registers{};
  for (uint8_t r = 0; r < jc42::kRegisters; ++r) {
    const auto value = bus.WordHighFirst(chip, r);
    if (!value) {
      if (!bus.Failed()) notes->push_back(StoppedAnswering(chip));
      return std::nullopt;
    }
    registers[r] = *value;
  }
  return ChipReport{chip,
                    "jc42",
                    part->name,
                    {{"manufacturer", *manufacturer, 4}, {"device", *device, 4}},
                    DecodeJc42(registers)};
}

bool IsMonitor(BusReader& bus, uint8_t chip, const MonitorFamily& family) {
  const auto vendor = bus.Byte(chip, family.vendorRegister);
  const auto device = vendor ? bus.Byte(chip, family.deviceRegister) : std::nullopt;
  return device && *vendor == family.vendor && *device == family.device;
}

std::optional<ChipReport> ReadMonitor(BusReader& bus, uint8_t chip, const MonitorFamily* family,
                                      std::vector<std::string>* notes) {
  if (!IsMonitor(bus, chip, *family)) return std::nullopt;
  std::array<uint8_t, 256> registers{};
  for (const MonitorInput& input : family->inputs) {
    for (int reg : {static_cast<int>(input.reg), input.low, input.high, input.critical}) {
      if (reg == kNoRegister) continue;
      const auto value = bus.Byte(chip, static_cast<uint8_t>(reg));
      if (!value) {
        if (!bus.Failed()) notes->push_back(StoppedAnswering(chip));
        return std::nullopt;
      }
      registers[static_cast<size_t>(reg)] = *value;
    }
  }
  ChipReport report{chip,
                    family->family,
                    family->name,
                    {{"vendor", family->vendor, 2}, {"device", family->device, 2}},
                    {}};
  for (const MonitorInput& input : family->inputs)
    report.readings.push_back(DecodeMonitorInput(*family, input, registers));
  return report;
}

// Pages 0 and 1 of a DDR4 module, page 0 selected again at the end.
std::optional<std::vector<uint8_t>> ReadBothPages(BusReader& bus, uint8_t chip,
                                                  std::vector<uint8_t> bytes) {
  if (!bus.Select(spd::kSelectPage1)) return std::nullopt;
  const auto upper = bus.Bytes(chip, 0, spd::kPageSize);
  if (!bus.Select(spd::kSelectPage0) || !upper) return std::nullopt;
  bytes.insert(bytes.end(), upper->begin(), upper->end());
  return bytes;
}

}  // namespace

std::optional<ModuleRead> ReadModule(BusReader& bus, uint8_t chip,
                                     std::vector<std::string>* notes) {
  // The page selects and the reads of the page they select, and a hub's page
  // sequence, in one hold of the bus: no other program may select another
  // page in between.
  const client::SequenceHold hold(bus.Client());
  const auto type = bus.Byte(chip, spd::kTypeByte);
  if (!type) return std::nullopt;
  // Neither DDR3 nor DDR4: perhaps a DDR5 module's SPD hub, whose byte 2 is
  // its revision. Its MR11 is written only once MR0:MR1 named it a hub.
  if (*type != spd::kDdr3 && *type != spd::kDdr4 && IsSpdHub(bus, chip)) {
    const auto memory = ReadHubMemory(bus, chip, notes);
    if (!memory) return std::nullopt;
    return ModuleRead{chip, *memory, DecodeSpd(*memory)};
  }
  // Page selects reach every module on the bus and whatever else answers at
  // 0x36 and 0x37: only a module whose type byte says DDR4 has a second page,
  // and only then is one selected.
  auto bytes = bus.Bytes(chip, 0, spd::kPageSize);
  if (bytes && *type == spd::kDdr4) bytes = ReadBothPages(bus, chip, *bytes);
  if (!bytes) {
    if (!bus.Failed()) notes->push_back(StoppedAnswering(chip));
    return std::nullopt;
  }
  return ModuleRead{chip, *bytes, DecodeSpd(*bytes)};
}

ScanResult ScanSensors(BusReader& bus) {
  ScanResult result;
  for (uint8_t chip = jc42::kFirstAddress; chip <= jc42::kLastAddress && !bus.Failed(); ++chip) {
    if (auto report = ReadTemperatureSensor(bus, chip, &result.notes)) {
      result.chips.push_back(*report);
    }
  }
  for (const MonitorFamily& family : MonitorFamilies()) {
    for (uint8_t chip = family.firstAddress; chip <= family.lastAddress && !bus.Failed(); ++chip) {
      if (auto report = ReadMonitor(bus, chip, &family, &result.notes)) {
        result.chips.push_back(*report);
      }
    }
  }
  for (uint8_t chip = spd::kFirstAddress; chip <= spd::kLastAddress && !bus.Failed(); ++chip) {
    if (auto report = ReadHubSensor(bus, chip, &result.notes)) result.chips.push_back(*report);
  }
  return result;
}

}  // namespace omzi2c::decode
