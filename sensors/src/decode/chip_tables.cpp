#include "decode/chip_tables.h"

#include <cmath>

namespace omzi2c::decode {

namespace {

// JC-42.4 temperature format: 13-bit two's complement in 1/16 degree below
// three alarm flags (critical, high, low).
constexpr uint16_t kTemperatureBits = 0x1FFF;
constexpr uint16_t kSignBit = 0x1000;
constexpr double kSixteenth = 1.0 / 16;
constexpr uint16_t kCriticalFlag = 0x8000, kHighFlag = 0x4000, kLowFlag = 0x2000;

double Jc42Celsius(uint16_t value) {
  const int field = value & kTemperatureBits;
  return ((field & kSignBit) ? field - (kTemperatureBits + 1) : field) * kSixteenth;
}

const std::vector<TemperatureSensorPart> kTemperatureSensorParts = {
    {"OMZ TS-2 temperature sensor", 0x4F4D, 0x0200, 0xFF00},
};

// The simulated board's monitor: five rails (the higher ones through
// dividers of 2 and 4), three temperatures in whole degrees and three fans
// counted with a divisor of 8; limits at 0x2B-0x3D.
constexpr double kStep = 0.016;
constexpr double kMillivoltsPerVolt = 1000;
const std::vector<MonitorFamily> kMonitorFamilies = {
    {"omzmon",
     "OMZ board monitor",
     0x2C,
     0x2F,
     0x3E,
     0x5C,
     0x3F,
     0x31,
     1350000,
     0xFF,
     {
         {"Vcore", InputKind::kVoltage, 0x20, kStep, 0x2C, 0x2B},
         {"+3.3V", InputKind::kVoltage, 0x21, kStep, 0x2E, 0x2D},
         {"+5V", InputKind::kVoltage, 0x22, 2 * kStep, 0x30, 0x2F},
         {"+12V", InputKind::kVoltage, 0x23, 4 * kStep, 0x32, 0x31},
         {"VDIMM", InputKind::kVoltage, 0x24, kStep, 0x34, 0x33},
         {"CPU Temp", InputKind::kTemperature, 0x25, 1, kNoRegister, 0x35, 0x36},
         {"Board Temp", InputKind::kTemperature, 0x26, 1, kNoRegister, 0x37, 0x38},
         {"Aux Temp", InputKind::kTemperature, 0x27, 1, kNoRegister, 0x39, 0x3A},
         {"CPU Fan", InputKind::kFan, 0x28, 8, 0x3B},
         {"Case Fan", InputKind::kFan, 0x29, 8, 0x3C},
         {"Aux Fan", InputKind::kFan, 0x2A, 8, 0x3D},
     }},
};

// A register's value in the input's unit; none for a stopped fan.
std::optional<double> Scaled(const MonitorFamily& family, const MonitorInput& input,
                             uint8_t count) {
  switch (input.kind) {
    case InputKind::kVoltage:
      return std::round(count * input.scale * kMillivoltsPerVolt) / kMillivoltsPerVolt;
    case InputKind::kTemperature:
      return static_cast<int8_t>(count);
    case InputKind::kFan:
      if (count == 0 || count == family.fanStopped) return std::nullopt;
      return static_cast<double>(family.fanClock / (count * static_cast<unsigned>(input.scale)));
  }
  return std::nullopt;
}

std::optional<double> Limit(const MonitorFamily& family, const MonitorInput& input, int reg,
                            const std::array<uint8_t, 256>& registers) {
  if (reg == kNoRegister) return std::nullopt;
  return Scaled(family, input, registers[static_cast<size_t>(reg)]);
}

}  // namespace

const char* UnitSymbol(Unit unit) {
  return unit == Unit::kCelsius ? "C" : unit == Unit::kVolt ? "V" : "RPM";
}

const char* UnitName(Unit unit) {
  return unit == Unit::kCelsius ? "celsius" : unit == Unit::kVolt ? "volt" : "rpm";
}

const std::vector<TemperatureSensorPart>& TemperatureSensorParts() {
  return kTemperatureSensorParts;
}

const TemperatureSensorPart* FindTemperatureSensor(uint16_t manufacturer, uint16_t device) {
  for (const TemperatureSensorPart& part : kTemperatureSensorParts) {
    if (part.manufacturer == manufacturer && (device & part.deviceMask) == part.device) {
      return &part;
    }
  }
  return nullptr;
}

std::vector<Reading> DecodeJc42(const std::array<uint16_t, jc42::kRegisters>& registers) {
  Reading temp;
  temp.label = "temp1";
  const uint16_t ambient = registers[jc42::kAmbient];
  temp.value = Jc42Celsius(ambient);
  temp.low = Jc42Celsius(registers[jc42::kLowLimit]);
  temp.high = Jc42Celsius(registers[jc42::kHighLimit]);
  temp.critical = Jc42Celsius(registers[jc42::kCriticalLimit]);
  if (ambient & kLowFlag) temp.alarms.push_back("low");
  if (ambient & kHighFlag) temp.alarms.push_back("high");
  if (ambient & kCriticalFlag) temp.alarms.push_back("critical");
  return {temp};
}

const std::vector<MonitorFamily>& MonitorFamilies() {
  return kMonitorFamilies;
}

Reading DecodeMonitorInput(const MonitorFamily& family, const MonitorInput& input,
                           const std::array<uint8_t, 256>& registers) {
  Reading r;
  r.label = input.label;
  r.unit = input.kind == InputKind::kVoltage ? Unit::kVolt
           : input.kind == InputKind::kFan   ? Unit::kRpm
                                             : Unit::kCelsius;
  r.value = Scaled(family, input, registers[input.reg]);
  r.low = Limit(family, input, input.low, registers);
  r.high = Limit(family, input, input.high, registers);
  r.critical = Limit(family, input, input.critical, registers);
  const double value = r.value.value_or(0);  // a stopped fan is below any minimum
  if (r.low && value < *r.low) r.alarms.push_back("low");
  if (r.high && value > *r.high) r.alarms.push_back("high");
  if (r.critical && value >= *r.critical) r.alarms.push_back("critical");
  return r;
}

}  // namespace omzi2c::decode
