// The chip families `sensors` knows: for each, where it may sit, the ID
// registers that must match before anything is decoded, and what each
// reading register holds. Adding a chip is adding an entry here.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "decode/readings.h"

namespace omzi2c::decode {

// Temperature sensors of the JC-42.4 family: 16-bit registers sent high byte
// first, identified by their manufacturer and device registers.
namespace jc42 {
constexpr uint8_t kFirstAddress = 0x18;
constexpr uint8_t kLastAddress = 0x1F;
constexpr uint8_t kCapabilities = 0x00;
constexpr uint8_t kHighLimit = 0x02;
constexpr uint8_t kLowLimit = 0x03;
constexpr uint8_t kCriticalLimit = 0x04;
constexpr uint8_t kAmbient = 0x05;
constexpr uint8_t kManufacturer = 0x06;
constexpr uint8_t kDevice = 0x07;
constexpr uint8_t kRegisters = 8;
}  // namespace jc42

struct TemperatureSensorPart {
  const char* name;
  uint16_t manufacturer;
  uint16_t device;  // compared under deviceMask (the low byte is often a revision)
  uint16_t deviceMask;
};
const std::vector<TemperatureSensorPart>& TemperatureSensorParts();

// The part whose IDs these are; null when none matches.
const TemperatureSensorPart* FindTemperatureSensor(uint16_t manufacturer, uint16_t device);
// The readings of a JC-42.4 sensor from its registers 0..7.
std::vector<Reading> DecodeJc42(const std::array<uint16_t, jc42::kRegisters>& registers);

// Hardware monitors with byte registers.
enum class InputKind { kVoltage, kTemperature, kFan };
constexpr int kNoRegister = -1;

struct MonitorInput {
  const char* label;
  InputKind kind;
  uint8_t reg;
  double scale;           // volts per count; the fan divisor for fans; unused for temperatures
  int low = kNoRegister;  // for fans: the lowest speed, as a count
  int high = kNoRegister;
  int critical = kNoRegister;
};

struct MonitorFamily {
  const char* family;
  const char* name;
  uint8_t firstAddress, lastAddress;
  uint8_t vendorRegister, vendor;
  uint8_t deviceRegister, device;
  unsigned fanClock;   // rpm = fanClock / (count * divisor)
  uint8_t fanStopped;  // the count of a fan too slow to measure
  std::vector<MonitorInput> inputs;
};
const std::vector<MonitorFamily>& MonitorFamilies();

// The reading of one input from the chip's 256 registers.
Reading DecodeMonitorInput(const MonitorFamily& family, const MonitorInput& input,
                           const std::array<uint8_t, 256>& registers);

}  // namespace omzi2c::decode
