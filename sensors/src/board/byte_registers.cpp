#include "board/byte_registers.h"

namespace board {

uint32_t ByteRegisterHandler::Read(uint32_t port, Width width) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < static_cast<uint32_t>(width); ++i) {
    const uint32_t offset = port - base_ + i;
    const uint8_t byte = offset < count_ ? ReadRegister(static_cast<uint8_t>(offset)) : 0xFF;
    value |= static_cast<uint32_t>(byte) << (8 * i);
  }
  return value;
}

void ByteRegisterHandler::Write(uint32_t port, Width width, uint32_t value) {
  for (uint32_t i = 0; i < static_cast<uint32_t>(width); ++i) {
    const uint32_t offset = port - base_ + i;
    if (offset < count_) {
      WriteRegister(static_cast<uint8_t>(offset), static_cast<uint8_t>(value >> (8 * i)));
    }
  }
}

}  // namespace board
