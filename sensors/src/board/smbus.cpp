#include "board/smbus.h"

namespace board {

void SmbusBus::Attach(SlaveAddress address, SmbusDevice* device) {
  devices_[address] = device;
}

void SmbusBus::Detach(SlaveAddress address) {
  devices_.erase(address);
}

bool SmbusBus::IsPresent(SlaveAddress address) const {
  return Find(address) != nullptr;
}

SmbusDevice* SmbusBus::Find(SlaveAddress address) const {
  const auto it = devices_.find(address);
  return it != devices_.end() ? it->second : nullptr;
}

bool SmbusBus::Record(SmbusProtocol protocol, SlaveAddress address, uint8_t command,
                      bool acknowledged) {
  if (keepLog_) log_.push_back({protocol, address, command, acknowledged});
  return acknowledged;
}

bool SmbusBus::Quick(SlaveAddress address, bool read) {
  SmbusDevice* device = Find(address);
  return Record(SmbusProtocol::Quick, address, 0, device != nullptr && device->Quick(read));
}

bool SmbusBus::ReceiveByte(SlaveAddress address, uint8_t* byte) {
  SmbusDevice* device = Find(address);
  return Record(SmbusProtocol::ReceiveByte, address, 0,
                device != nullptr && device->ReceiveByte(byte));
}

bool SmbusBus::SendByte(SlaveAddress address, uint8_t byte) {
  SmbusDevice* device = Find(address);
  if (keepLog_) sent_.push_back(byte);
  return Record(SmbusProtocol::SendByte, address, byte,
                device != nullptr && device->SendByte(byte));
}

bool SmbusBus::ReadByte(SlaveAddress address, uint8_t command, uint8_t* byte) {
  SmbusDevice* device = Find(address);
  return Record(SmbusProtocol::ReadByte, address, command,
                device != nullptr && device->ReadByte(command, byte));
}

bool SmbusBus::WriteByte(SlaveAddress address, uint8_t command, uint8_t byte) {
  SmbusDevice* device = Find(address);
  if (keepLog_) sent_.push_back(byte);
  return Record(SmbusProtocol::WriteByte, address, command,
                device != nullptr && device->WriteByte(command, byte));
}

bool SmbusBus::ReadWord(SlaveAddress address, uint8_t command, uint8_t (&wire)[2]) {
  SmbusDevice* device = Find(address);
  return Record(SmbusProtocol::ReadWord, address, command,
                device != nullptr && device->ReadWord(command, wire));
}

bool SmbusBus::WriteWord(SlaveAddress address, uint8_t command, const uint8_t (&wire)[2]) {
  SmbusDevice* device = Find(address);
  if (keepLog_) sent_.insert(sent_.end(), wire, wire + 2);
  return Record(SmbusProtocol::WriteWord, address, command,
                device != nullptr && device->WriteWord(command, wire));
}

bool SmbusBus::BlockRead(SlaveAddress address, uint8_t command, std::vector<uint8_t>* block) {
  SmbusDevice* device = Find(address);
  block->clear();
  return Record(SmbusProtocol::BlockRead, address, command,
                device != nullptr && device->BlockRead(command, block));
}

bool SmbusBus::BlockWrite(SlaveAddress address, uint8_t command,
                          const std::vector<uint8_t>& block) {
  SmbusDevice* device = Find(address);
  if (keepLog_) sent_.insert(sent_.end(), block.begin(), block.end());
  return Record(SmbusProtocol::BlockWrite, address, command,
                device != nullptr && device->BlockWrite(command, block));
}

}  // namespace board
