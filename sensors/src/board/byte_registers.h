// A controller whose registers are byte-wide ports from a base: a wider
// access reaches consecutive registers, low byte first, and a port past the
// last register reads as an open bus and ignores writes.
#pragma once

#include <cstdint>

#include "board/port_map.h"

namespace board {

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
