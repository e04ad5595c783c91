#include "board/hardware_monitor.h"

#include <cstring>

namespace board {

using namespace hwmon;

HardwareMonitor::HardwareMonitor() {
  registers_[kConfig] = 0x01;  // monitoring started
  const unsigned millivolts[kVoltageCount] = {1200, 3312, 5040, 12096, 1504};
  for (unsigned i = 0; i < kVoltageCount; ++i)
    SetVoltage(i, millivolts[i]);
  const int8_t celsius[kTemperatureCount] = {38, 45, 31};
  for (unsigned i = 0; i < kTemperatureCount; ++i)
    SetTemperature(i, celsius[i]);
  const unsigned rpm[kFanCount] = {1250, 2100, 0};
  for (unsigned i = 0; i < kFanCount; ++i)
    SetFanRpm(i, rpm[i]);
  for (uint8_t r = kFirstLimit; r < kVendorId; ++r)
    registers_[r] = 0x7F;
  registers_[kVendorId] = 0x5C;
  registers_[kDeviceId] = 0x31;
}

void HardwareMonitor::SetTemperature(unsigned index, int8_t celsius) {
  registers_[kFirstTemperature + index] = static_cast<uint8_t>(celsius);
}

void HardwareMonitor::SetVoltage(unsigned index, unsigned millivolts) {
  // The higher rails are measured through a divider; the count is scaled so
  // that every rail fits a byte.
  const unsigned divider = millivolts > 4000 ? (millivolts > 8000 ? 4 : 2) : 1;
  const unsigned count = millivolts / divider / kVoltageStepMv;
  registers_[kFirstVoltage + index] = static_cast<uint8_t>(count > 0xFF ? 0xFF : count);
}

void HardwareMonitor::SetFanRpm(unsigned index, unsigned rpm) {
  const unsigned count = rpm == 0 ? 0xFF : 1350000 / (rpm * 2);
  registers_[kFirstFan + index] = static_cast<uint8_t>(count > 0xFF ? 0xFF : count);
}

bool HardwareMonitor::Writable(uint8_t command) {
  return command == kConfig || (command >= kFirstLimit && command < kVendorId);
}

bool HardwareMonitor::ReceiveByte(uint8_t* byte) {
  *byte = registers_[next_];
  next_ = static_cast<uint8_t>(next_ + 1);
  return true;
}

bool HardwareMonitor::ReadByte(uint8_t command, uint8_t* byte) {
  next_ = command;
  return ReceiveByte(byte);
}

bool HardwareMonitor::WriteByte(uint8_t command, uint8_t byte) {
  if (!Writable(command)) return false;
  registers_[command] = byte;
  return true;
}

uint16_t SpdChecksum(const uint8_t* bytes, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc ^= static_cast<uint16_t>(bytes[i] << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

std::array<uint8_t, 256> MemoryModuleSpd(unsigned slot) {
  std::array<uint8_t, 256> spd{};
  const uint8_t header[] = {
      0x92,              // 176 bytes used, 256 total, checksum over 0..116
      0x13,              // revision 1.3
      0x0B,              // DDR3 SDRAM
      0x02,              // unbuffered DIMM
      0x03,              // 4 Gb dies, 8 banks
      0x19,              // 15 row, 10 column address bits
      0x00,              // 1.5 V
      0x09,              // 2 ranks of x8 devices
      0x03,              // 64-bit bus, no ECC
      0x11,              // fine timebase 1 ps
      0x01, 0x08,        // medium timebase 1/8 ns
      0x0A,              // tCK min 1.25 ns: DDR3-1600
      0x00, 0xFE, 0x00,  // CAS latencies 6..11
      0x69,              // tAA min 13.125 ns
      0x78, 0x69, 0x30, 0x69, 0x11, 0x18, 0x81, 0x20, 0x08, 0x3C, 0x3C, 0x00, 0xF0,
  };
  std::memcpy(spd.data(), header, sizeof header);
  spd[117] = 0x80;  // module manufacturer (bank, id)
  spd[118] = 0x2C;
  spd[119] = 0x01;                             // manufacturing location
  spd[120] = 0x15;                             // year (BCD)
  spd[121] = 0x32;                             // week (BCD)
  const uint32_t serial = 0x1A2B3C00u + slot;  // bytes 122..125
  for (int i = 0; i < 4; ++i)
    spd[122 + i] = static_cast<uint8_t>(serial >> (24 - 8 * i));
  const uint16_t crc = SpdChecksum(spd.data(), 117);
  spd[126] = static_cast<uint8_t>(crc & 0xFF);
  spd[127] = static_cast<uint8_t>(crc >> 8);
  const char part[] = "OMZ3U1600C11-4G   ";  // 18 characters, space padded
  std::memcpy(&spd[128], part, 18);
  spd[146] = 0x00;  // module revision
  return spd;
}

}  // namespace board
