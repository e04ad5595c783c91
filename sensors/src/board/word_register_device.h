// A device with 16-bit registers, as temperature and voltage monitors have:
// SMBus read word and write word at a register number, low byte first on
// the bus as SMBus has it, or high byte first as some sensors send it. A
// read byte answers the register's first byte on the wire. Registers beyond the device's count, and
// writes to read-only registers, are NAKed.
#pragma once

#include <cstdint>
#include <vector>

#include "board/smbus.h"

namespace board {

enum class WireOrder { kLowFirst, kHighFirst };

class WordRegisterDevice : public SmbusDevice {
 public:
  explicit WordRegisterDevice(size_t registers = 16, WireOrder order = WireOrder::kLowFirst);

  uint16_t Register(uint8_t index) const { return registers_.at(index); }
  void SetRegister(uint8_t index, uint16_t value) { registers_.at(index) = value; }
  void SetReadOnly(uint8_t index, bool on) { readOnly_.at(index) = on; }

  bool ReadByte(uint8_t command, uint8_t* byte) override;
  bool ReadWord(uint8_t command, uint8_t (&wire)[2]) override;
  bool WriteWord(uint8_t command, const uint8_t (&wire)[2]) override;

 private:
  bool Exists(uint8_t command) const { return command < registers_.size(); }
  // The register's bytes in the order they go on the wire.
  void ToWire(uint16_t value, uint8_t (&wire)[2]) const;

  WireOrder order_;

  std::vector<uint16_t> registers_;
  std::vector<bool> readOnly_;
};

}  // namespace board
