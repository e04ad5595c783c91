#include "board/host_transaction.h"

namespace board {

namespace {

bool CarryRead(SmbusBus& bus, HostProtocol protocol, HostRegisters* r, int forcedCount) {
  const SlaveAddress target = SlaveAddress::FromAddressByte(r->address);
  uint8_t wire[2] = {r->data0, r->data1};
  switch (protocol) {
    case HostProtocol::Byte:
      if (!bus.ReceiveByte(target, &wire[0])) return false;
      break;
    case HostProtocol::ByteData:
      if (!bus.ReadByte(target, r->command, &wire[0])) return false;
      break;
    case HostProtocol::WordData:
      if (!bus.ReadWord(target, r->command, wire)) return false;
      r->data1 = wire[1];
      break;
    case HostProtocol::Block:
      if (!bus.BlockRead(target, r->command, &r->block)) return false;
      wire[0] = static_cast<uint8_t>(forcedCount >= 0 ? forcedCount : r->block.size());
      break;
  }
  r->data0 = wire[0];
  return true;
}

bool CarryWrite(SmbusBus& bus, HostProtocol protocol, HostRegisters* r) {
  const SlaveAddress target = SlaveAddress::FromAddressByte(r->address);
  const uint8_t wire[2] = {r->data0, r->data1};
  switch (protocol) {
    case HostProtocol::Byte:
      return bus.SendByte(target, r->command);
    case HostProtocol::ByteData:
      return bus.WriteByte(target, r->command, r->data0);
    case HostProtocol::WordData:
      return bus.WriteWord(target, r->command, wire);
    case HostProtocol::Block:
      if (r->data0 > kSmbusMaxBlock) return false;
      r->block.resize(r->data0);
      return bus.BlockWrite(target, r->command, r->block);
  }
  return false;
}

}  // namespace

bool CarryOut(SmbusBus& bus, HostProtocol protocol, HostRegisters* registers, int forcedCount) {
  if (registers->address & 0x01) return CarryRead(bus, protocol, registers, forcedCount);
  return CarryWrite(bus, protocol, registers);
}

}  // namespace board
