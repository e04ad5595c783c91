// A DDR5 module's SPD hub: the device at the module's SPD address that holds
// 128 mode registers, a temperature sensor and the 1024-byte SPD memory.
//
// In one-byte addressing mode (the only one this model carries), an offset
// below 0x80 is a mode register and offsets 0x80-0xFF read and write the
// 128 bytes of the memory page that MR11 bits 2:0 select. Every byte read or
// written moves the hub's pointer on by one, wrapping within the mode
// registers or within the page, so a read byte followed by receive bytes
// reads consecutive bytes. With MR11 bit 3 set the hub expects two address
// bytes; the model then NAKs the memory window rather than answer from a
// wrong place.
//
// The sensor: 16-bit registers low byte first, bits 12:2 an 11-bit two's
// complement count of quarter degrees C; the status in MR51 follows the
// temperature against the four limits.
#pragma once

#include <array>
#include <cstdint>

#include "board/smbus.h"

namespace board {

namespace hub {
constexpr uint8_t kDeviceType = 0x00;  // MR0:MR1 read 0x51 0x18
constexpr uint8_t kRevision = 0x02;
constexpr uint8_t kVendorBank = 0x03;  // MR3:MR4, JEP-106 with parity
constexpr uint8_t kVendorCode = 0x04;
constexpr uint8_t kCapability = 0x05;
constexpr uint8_t kLegacyMode = 0x0B;  // MR11
constexpr uint8_t kClearTemperature = 0x13;
constexpr uint8_t kClearError = 0x14;
constexpr uint8_t kSensorConfig = 0x1A;  // MR26
constexpr uint8_t kHighLimit = 0x1C;
constexpr uint8_t kLowLimit = 0x1E;
constexpr uint8_t kCriticalLimit = 0x20;
constexpr uint8_t kLowCriticalLimit = 0x22;
constexpr uint8_t kTemperature = 0x31;  // MR49:MR50
constexpr uint8_t kStatus = 0x33;       // MR51
constexpr uint8_t kRegisters = 0x80;
constexpr uint8_t kMemoryWindow = 0x80;
constexpr uint8_t kPageMask = 0x07;
constexpr uint8_t kTwoByteAddressing = 0x08;
constexpr uint8_t kSensorOff = 0x01;
constexpr uint8_t kSensorSupported = 0x02;  // MR5
constexpr uint8_t kAboveHigh = 0x01, kBelowLow = 0x02, kAboveCritical = 0x04,
                  kBelowLowCritical = 0x08;
// A temperature in the sensor registers' format.
constexpr uint16_t Quarters(int quarters) {
  return static_cast<uint16_t>((static_cast<unsigned>(quarters) & 0x7FF) << 2);
}
}  // namespace hub

class SpdHub : public SmbusDevice {
 public:
  static constexpr size_t kSize = 1024;
  static constexpr size_t kPageSize = 128;

  SpdHub();

  void Load(const std::array<uint8_t, kSize>& contents) { memory_ = contents; }
  uint8_t At(size_t offset) const { return memory_.at(offset); }
  void Set(size_t offset, uint8_t value) { memory_.at(offset) = value; }
  uint8_t Register(uint8_t index) const { return registers_.at(index); }
  // Any register as it is, for a board restored from saved state.
  void SetRegister(uint8_t index, uint8_t value);
  // A 16-bit register (a limit), low byte at `index`.
  void SetWordRegister(uint8_t index, uint16_t value);
  // The measured temperature in quarter degrees C.
  void SetQuarters(int quarters);
  unsigned Page() const { return registers_[hub::kLegacyMode] & hub::kPageMask; }
  uint8_t Pointer() const { return pointer_; }
  void SetWriteProtected(bool on) { writeProtected_ = on; }

  bool ReceiveByte(uint8_t* byte) override { return Read(byte); }
  bool ReadByte(uint8_t command, uint8_t* byte) override;
  bool WriteByte(uint8_t command, uint8_t byte) override;
  bool ReadWord(uint8_t command, uint8_t (&wire)[2]) override;
  bool WriteWord(uint8_t command, const uint8_t (&wire)[2]) override;

 private:
  bool Read(uint8_t* byte);
  bool Write(uint8_t byte);
  void WriteRegister(uint8_t index, uint8_t value);
  void Advance();
  void UpdateStatus();

  std::array<uint8_t, hub::kRegisters> registers_{};
  std::array<uint8_t, kSize> memory_;
  uint8_t pointer_ = 0;
  bool writeProtected_ = false;
};

// A plausible 32 GB DDR5-4800 unbuffered module (two ranks of 16 Gb x8
// dies on two 32-bit sub-channels), its CRC over bytes 0-509 at 510-511.
std::array<uint8_t, SpdHub::kSize> Ddr5ModuleSpd();

}  // namespace board
