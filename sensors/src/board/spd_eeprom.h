// A 256-byte EEPROM of the serial-presence-detect kind (memory modules keep
// their description in one at 0x50..0x57).
//
// The part knows nothing of SMBus commands: the first byte written after its
// address sets the internal pointer, further written bytes are stored from
// there, and every byte read comes from the pointer, which moves on by one
// (wrapping at 256). So a read byte at a register followed by receive bytes
// reads consecutive registers, and SMBus word and block transfers turn into
// sequential reads and writes. Writes go through 16-byte pages: a write that
// runs past the end of a page wraps to the page's start, as on the real
// part. A write-protected part NAKs the data bytes of every write.
#pragma once

#include <array>
#include <cstdint>

#include "board/smbus.h"

namespace board {

class SpdEeprom : public SmbusDevice {
 public:
  static constexpr size_t kSize = 256;
  static constexpr size_t kPageSize = 16;

  SpdEeprom();  // erased: every byte 0xFF

  void Load(const std::array<uint8_t, kSize>& contents) { memory_ = contents; }
  uint8_t At(uint8_t offset) const { return memory_[offset]; }
  void Set(uint8_t offset, uint8_t value) { memory_[offset] = value; }
  uint8_t Pointer() const { return pointer_; }
  void SetWriteProtected(bool on) { writeProtected_ = on; }

  bool ReceiveByte(uint8_t* byte) override;
  bool SendByte(uint8_t byte) override;
  bool ReadByte(uint8_t command, uint8_t* byte) override;
  bool WriteByte(uint8_t command, uint8_t byte) override;
  bool ReadWord(uint8_t command, uint8_t (&wire)[2]) override;
  bool WriteWord(uint8_t command, const uint8_t (&wire)[2]) override;
  // The first byte read is what the host takes for the count.
  bool BlockRead(uint8_t command, std::vector<uint8_t>* block) override;
  // The count byte on the wire is stored like any other data byte.
  bool BlockWrite(uint8_t command, const std::vector<uint8_t>& block) override;

 private:
  uint8_t Next();
  // Stores `bytes` from `start` within start's page; false when protected.
  bool WritePage(uint8_t start, const uint8_t* bytes, size_t count);

  std::array<uint8_t, kSize> memory_;
  uint8_t pointer_ = 0;
  bool writeProtected_ = false;
};

}  // namespace board
