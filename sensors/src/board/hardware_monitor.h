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
constexpr uint8_t kFirstFan = 0x28;  // 0x28..0x2A: rpm = 1350000 / (count * 2)
constexpr uint8_t kFanCount = 3;
constexpr uint8_t kFirstLimit = 0x2B;  // 0x2B..0x3D: limits, writable
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
  std::array<uint8_t, 256> registers_{};
  uint8_t next_ = 0;
};

// Contents of a memory module's serial-presence-detect EEPROM: a plausible
// 4 GiB DDR3-1600 unbuffered module, with a serial number that differs per
// slot and a valid checksum over bytes 0..116.
std::array<uint8_t, 256> MemoryModuleSpd(unsigned slot);
// The checksum kept in bytes 126..127 (CRC-16, polynomial 0x1021).
uint16_t SpdChecksum(const uint8_t* bytes, size_t count);

}  // namespace board
