#include "board/byte_registers.h"

namespace board {

uint32_t ByteRegisterHandler::Read(uint32_t port, Width width) {
  return ReadBytes(port - base_, width, count_,
                   [this](uint8_t offset) { return ReadRegister(offset); });
}

void ByteRegisterHandler::Write(uint32_t port, Width width, uint32_t value) {
  WriteBytes(port - base_, width, value, count_,
             [this](uint8_t offset, uint8_t byte) { WriteRegister(offset, byte); });
}

}  // namespace board
