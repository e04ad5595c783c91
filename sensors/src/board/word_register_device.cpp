#include "board/word_register_device.h"

namespace board {

WordRegisterDevice::WordRegisterDevice(size_t registers, WireOrder order)
    : order_(order), registers_(registers, 0), readOnly_(registers, false) {}

void WordRegisterDevice::ToWire(uint16_t value, uint8_t (&wire)[2]) const {
  const auto low = static_cast<uint8_t>(value & 0xFF);
  const auto high = static_cast<uint8_t>(value >> 8);
  wire[0] = order_ == WireOrder::kLowFirst ? low : high;
  wire[1] = order_ == WireOrder::kLowFirst ? high : low;
}

bool WordRegisterDevice::ReadByte(uint8_t command, uint8_t* byte) {
  if (!Exists(command)) return false;
  uint8_t wire[2];
  ToWire(registers_[command], wire);
  *byte = wire[0];
  return true;
}

bool WordRegisterDevice::ReadWord(uint8_t command, uint8_t (&wire)[2]) {
  if (!Exists(command)) return false;
  ToWire(registers_[command], wire);
  return true;
}

bool WordRegisterDevice::WriteWord(uint8_t command, const uint8_t (&wire)[2]) {
  if (!Exists(command) || readOnly_[command]) return false;
  const bool lowFirst = order_ == WireOrder::kLowFirst;
  const uint8_t low = lowFirst ? wire[0] : wire[1];
  const uint8_t high = lowFirst ? wire[1] : wire[0];
  registers_[command] = static_cast<uint16_t>(low | (high << 8));
  return true;
}

}  // namespace board
