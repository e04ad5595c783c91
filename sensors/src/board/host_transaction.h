// One transaction of a host controller model whose registers describe the
// whole transaction before the start (the dual-status and start-port
// hosts): the model hands its registers over, the bus carries the
// transaction out, and the answer lands back in the registers.
#pragma once

#include <cstdint>
#include <vector>

#include "board/smbus.h"

namespace board {

enum class HostProtocol : uint8_t { Byte, ByteData, WordData, Block };

struct HostRegisters {
  uint8_t address = 0;  // address byte: bit 0 set for reads
  uint8_t command = 0;  // the data byte of a send byte
  uint8_t data0 = 0;    // data byte, low byte of a word, block count
  uint8_t data1 = 0;
  std::vector<uint8_t> block;  // the block data buffer
};

// Carries the transaction out; false when the device did not acknowledge
// it. A block read stores the bytes in `block` and their count in data0, or
// `forcedCount` there when it is 0 or more; a block write sends the first
// data0 bytes of `block` (a count above 32 is not put on the bus).
bool CarryOut(SmbusBus& bus, HostProtocol protocol, HostRegisters* registers, int forcedCount);

}  // namespace board
