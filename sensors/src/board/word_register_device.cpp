#include "board/word_register_device.h"

namespace board {

WordRegisterDevice::WordRegisterDevice(size_t registers)
    : registers_(registers, 0), readOnly_(registers, false) {}

bool WordRegisterDevice::ReadByte(uint8_t command, uint8_t* byte) {
  if (!Exists(command)) return false;
  *byte = static_cast<uint8_t>(registers_[command] & 0xFF);
  return true;
}

bool WordRegisterDevice::ReadWord(uint8_t command, uint8_t (&wire)[2]) {
  if (!Exists(command)) return false;
  wire[0] = static_cast<uint8_t>(registers_[command] & 0xFF);
  wire[1] = static_cast<uint8_t>(registers_[command] >> 8);
  return true;
}

bool WordRegisterDevice::WriteWord(uint8_t command, const uint8_t (&wire)[2]) {
  if (!Exists(command) || readOnly_[command]) return false;
  registers_[command] = static_cast<uint16_t>(wire[0] | (wire[1] << 8));
  return true;
}

}  // namespace board
