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
  const unsigned rpm[kFanCount] = {1250, 2250, 0};
  for (unsigned i = 0; i < kFanCount; ++i)
    SetFanRpm(i, rpm[i]);
  SetDefaultLimits(millivolts);
  registers_[kVendorId] = 0x5C;
  registers_[kDeviceId] = 0x31;
}

// Rails within 10% of their nominal voltage, temperatures up to 70 degrees
// (85 critical), fans no slower than 700 rpm.
void HardwareMonitor::SetDefaultLimits(const unsigned* millivolts) {
  constexpr unsigned kPercent = 100, kMargin = 10;
  constexpr int8_t kHighCelsius = 70, kCriticalCelsius = 85;
  constexpr unsigned kLowestRpm = 700;
  for (unsigned i = 0; i < kVoltageCount; ++i) {
    registers_[kFirstVoltageLimit + 2 * i] =
        VoltageCount(millivolts[i] * (kPercent + kMargin) / kPercent);
    registers_[kFirstVoltageLimit + 2 * i + 1] =
        VoltageCount(millivolts[i] * (kPercent - kMargin) / kPercent);
  }
  for (unsigned i = 0; i < kTemperatureCount; ++i) {
    registers_[kFirstTemperatureLimit + 2 * i] = static_cast<uint8_t>(kHighCelsius);
    registers_[kFirstTemperatureLimit + 2 * i + 1] = static_cast<uint8_t>(kCriticalCelsius);
  }
  for (unsigned i = 0; i < kFanCount; ++i)
    registers_[kFirstFanLimit + i] = FanCount(kLowestRpm);
}

void HardwareMonitor::SetTemperature(unsigned index, int8_t celsius) {
  registers_[kFirstTemperature + index] = static_cast<uint8_t>(celsius);
}

uint8_t HardwareMonitor::VoltageCount(unsigned millivolts) {
  // The higher rails are measured through a divider; the count is scaled so
  // that every rail fits a byte.
  const unsigned divider = millivolts > 4000 ? (millivolts > 8000 ? 4 : 2) : 1;
  const unsigned count = millivolts / divider / kVoltageStepMv;
  return static_cast<uint8_t>(count > 0xFF ? 0xFF : count);
}

uint8_t HardwareMonitor::FanCount(unsigned rpm) {
  const unsigned count = rpm == 0 ? kFanStopped : kFanClock / (rpm * kFanDivisor);
  return static_cast<uint8_t>(count > kFanStopped ? kFanStopped : count);
}

void HardwareMonitor::SetVoltage(unsigned index, unsigned millivolts) {
  registers_[kFirstVoltage + index] = VoltageCount(millivolts);
}

void HardwareMonitor::SetFanRpm(unsigned index, unsigned rpm) {
  registers_[kFirstFan + index] = FanCount(rpm);
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
      0x92,        // 176 bytes used, 256 total, checksum over 0..116
      0x13,        // revision 1.3
      0x0B,        // DDR3 SDRAM
      0x02,        // unbuffered DIMM
      0x03,        // 2 Gb dies, 8 banks
      0x19,        // 15 row, 10 column address bits
      0x00,        // 1.5 V
      0x09,        // 2 ranks of x8 devices
      0x03,        // 64-bit bus, no ECC
      0x11,        // fine timebase 1 ps
      0x01, 0x08,  // medium timebase 1/8 ns
      0x0A,        // tCK min 1.25 ns: DDR3-1600
      0x00,        // reserved
      0xFE, 0x00,  // CAS latencies 5..11
      0x69,        // tAA min 13.125 ns
      0x78,        // tWR min 15 ns
      0x69,        // tRCD min 13.125 ns
      0x30,        // tRRD min 6 ns
      0x69,        // tRP min 13.125 ns
      0x11,        // upper nibbles of tRAS and tRC
      0x18,        // tRAS min 35 ns
      0x81,        // tRC min 48.125 ns
      0x20, 0x08,  // tRFC min 260 ns
      0x3C,        // tWTR min 7.5 ns
      0x3C,        // tRTP min 7.5 ns
      0x00, 0xF0,  // tFAW min 30 ns
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
