// A memory-module temperature sensor of the JC-42.4 kind: 16-bit registers
// sent high byte first on the bus (the reverse of the SMBus word order), the
// temperature in 1/16 degree C as 13-bit two's complement with three alarm
// flags above it, limits in 1/4 degree C, and read-only capability,
// manufacturer and device registers.
#pragma once

#include <cstdint>

#include "board/word_register_device.h"

namespace board {

namespace temperature {
constexpr uint8_t kCapabilities = 0x00;
constexpr uint8_t kConfig = 0x01;
constexpr uint8_t kHighLimit = 0x02;
constexpr uint8_t kLowLimit = 0x03;
constexpr uint8_t kCriticalLimit = 0x04;
constexpr uint8_t kAmbient = 0x05;  // flags 15..13, then 1/16 degree C in 12..0
constexpr uint8_t kVendor = 0x06;
constexpr uint8_t kDevice = 0x07;
constexpr uint8_t kRegisters = 8;
constexpr uint16_t kAboveCritical = 0x8000;
constexpr uint16_t kAboveHigh = 0x4000;
constexpr uint16_t kBelowLow = 0x2000;
constexpr uint16_t kTemperatureBits = 0x1FFF;
}  // namespace temperature

class TemperatureSensor : public WordRegisterDevice {
 public:
  TemperatureSensor();

  // Sets the measured temperature, in 1/16 degree C; the flags follow it.
  void SetSixteenths(int sixteenths);
  bool WriteWord(uint8_t command, const uint8_t (&wire)[2]) override;

 private:
  void UpdateFlags();
};

}  // namespace board
