#include "board/spd_eeprom.h"

namespace board {

SpdEeprom::SpdEeprom() {
  memory_.fill(0xFF);
}

uint8_t SpdEeprom::Next() {
  return memory_[pointer_++];
}  // uint8_t wraps at 256

bool SpdEeprom::WritePage(uint8_t start, const uint8_t* bytes, size_t count) {
  if (writeProtected_) return false;
  const uint8_t page = static_cast<uint8_t>(start & ~(kPageSize - 1));
  uint8_t offset = static_cast<uint8_t>(start & (kPageSize - 1));
  for (size_t i = 0; i < count; ++i) {
    memory_[page | offset] = bytes[i];
    offset = static_cast<uint8_t>((offset + 1) & (kPageSize - 1));
  }
  pointer_ = static_cast<uint8_t>(page | offset);
  return true;
}

bool SpdEeprom::ReceiveByte(uint8_t* byte) {
  *byte = Next();
  return true;
}

bool SpdEeprom::SendByte(uint8_t byte) {
  pointer_ = byte;  // a write with only the word address sets the pointer
  return true;
}

bool SpdEeprom::ReadByte(uint8_t command, uint8_t* byte) {
  pointer_ = command;
  *byte = Next();
  return true;
}

bool SpdEeprom::WriteByte(uint8_t command, uint8_t byte) {
  pointer_ = command;
  return WritePage(command, &byte, 1);
}

bool SpdEeprom::ReadWord(uint8_t command, uint8_t (&wire)[2]) {
  pointer_ = command;
  wire[0] = Next();
  wire[1] = Next();
  return true;
}

bool SpdEeprom::WriteWord(uint8_t command, const uint8_t (&wire)[2]) {
  pointer_ = command;
  return WritePage(command, wire, 2);
}

bool SpdEeprom::BlockRead(uint8_t command, std::vector<uint8_t>* block) {
  pointer_ = command;
  const uint8_t count = Next();
  block->clear();
  for (size_t i = 0; i < count; ++i)
    block->push_back(Next());
  return true;
}

bool SpdEeprom::BlockWrite(uint8_t command, const std::vector<uint8_t>& block) {
  std::vector<uint8_t> wire;
  wire.reserve(block.size() + 1);
  wire.push_back(static_cast<uint8_t>(block.size()));
  wire.insert(wire.end(), block.begin(), block.end());
  pointer_ = command;
  return WritePage(command, wire.data(), wire.size());
}

}  // namespace board
