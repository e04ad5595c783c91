// A hardware-monitor chip with byte-wide registers: temperatures, supply
// voltages and fan tachometer counts, plus writable configuration and limit
// registers. SMBus read byte and write byte at a register; receive byte goes
// on from the register after the last one read, so a byte read followed by
// receive bytes reads consecutive registers. Writes to readings are NAKed.
#pragma once

#include <array>
#include <cstdint>

#include "board/smbus.h"

namespace board {

namespace hwmon {
constexpr uint8_t kConfig = 0x00;
constexpr uint8_t kFirstVoltage = 0x20;  // 0x20..0x24: 16 mV per count
constexpr uint8_t kVoltageCount = 5;
constexpr uint8_t kFirstTemperature = 0x25;  // 0x25..0x27: degrees C, two's complement
constexpr uint8_t kTemperatureCount = 3;
constexpr uint8_t kFirstFan = 0x28;  // 0x28..0x2A: rpm = 1350000 / (count * 8)
constexpr uint8_t kFanCount = 3;
constexpr unsigned kFanClock = 1350000;
constexpr unsigned kFanDivisor = 8;
constexpr uint8_t kFanStopped = 0xFF;
constexpr uint8_t kFirstLimit = 0x2B;  // 0x2B..0x3D: limits, writable
// Which limit belongs to which reading, in the reading's own scale: a high
// and a low limit per rail, a high and a critical limit per temperature, a
// lowest speed (as a count) per fan.
constexpr uint8_t kFirstVoltageLimit = 0x2B;      // rail i: high 0x2B + 2i, low 0x2C + 2i
constexpr uint8_t kFirstTemperatureLimit = 0x35;  // sensor i: high 0x35 + 2i, critical 0x36 + 2i
constexpr uint8_t kFirstFanLimit = 0x3B;          // fan i: 0x3B + i
constexpr uint8_t kVendorId = 0x3E;
constexpr uint8_t kDeviceId = 0x3F;
constexpr uint8_t kVoltageStepMv = 16;
}  // namespace hwmon

class HardwareMonitor : public SmbusDevice {
 public:
  HardwareMonitor();  // readings of a healthy, idle board

  void SetTemperature(unsigned index, int8_t celsius);
  void SetVoltage(unsigned index, unsigned millivolts);
  void SetFanRpm(unsigned index, unsigned rpm);  // 0: stopped (count 0xFF)
  uint8_t Register(uint8_t index) const { return registers_[index]; }

  bool ReceiveByte(uint8_t* byte) override;
  bool ReadByte(uint8_t command, uint8_t* byte) override;
  bool WriteByte(uint8_t command, uint8_t byte) override;

 private:
  static bool Writable(uint8_t command);
  static uint8_t VoltageCount(unsigned millivolts);
  static uint8_t FanCount(unsigned rpm);
  void SetDefaultLimits(const unsigned* millivolts);
  std::array<uint8_t, 256> registers_{};
  uint8_t next_ = 0;
};

// Contents of a memory module's serial-presence-detect EEPROM: a plausible
// 4 GiB DDR3-1600 unbuffered module (two ranks of 2 Gb x8 dies), with a
// serial number that differs per slot and a valid checksum over bytes
// 0..116.
std::array<uint8_t, 256> MemoryModuleSpd(unsigned slot);
// The checksum kept in bytes 126..127 (CRC-16, polynomial 0x1021).
uint16_t SpdChecksum(const uint8_t* bytes, size_t count);

}  // namespace board
