// Byte-wide register blocks behind wider port accesses: a word or
// doubleword access reaches the registers at consecutive offsets, low byte
// first, as on the processor's I/O bus; offsets past the block read as an
// open bus (0xFF) and ignore writes.
#pragma once

#include <cstdint>

#include "board/port_map.h"

namespace board {

template <typename ReadRegister>
uint32_t ReadBytes(uint32_t offset, Width width, uint32_t count, ReadRegister read) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < static_cast<uint32_t>(width); ++i) {
    const uint32_t at = offset + i;
    const uint8_t byte = at < count ? read(static_cast<uint8_t>(at)) : 0xFF;
    value |= static_cast<uint32_t>(byte) << (8 * i);
  }
  return value;
}

template <typename WriteRegister>
void WriteBytes(uint32_t offset, Width width, uint32_t value, uint32_t count, WriteRegister write) {
  for (uint32_t i = 0; i < static_cast<uint32_t>(width); ++i) {
    const uint32_t at = offset + i;
    if (at < count) write(static_cast<uint8_t>(at), static_cast<uint8_t>(value >> (8 * i)));
  }
}

// A controller whose registers are byte-wide ports from a base.
class ByteRegisterHandler : public PortHandler {
 public:
  ByteRegisterHandler(uint16_t base, uint32_t count) : base_(base), count_(count) {}

  void MapInto(PortMap& map) { map.Map(base_, count_, this); }
  uint16_t Base() const { return base_; }

  uint32_t Read(uint32_t port, Width width) final;
  void Write(uint32_t port, Width width, uint32_t value) final;

 protected:
  virtual uint8_t ReadRegister(uint8_t offset) = 0;
  virtual void WriteRegister(uint8_t offset, uint8_t value) = 0;

 private:
  uint16_t base_;
  uint32_t count_;
};

}  // namespace board
