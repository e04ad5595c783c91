// A device that answers SMBus block read and block write: each command code
// names a block of 1 to 32 bytes. A block read sends the count, then the
// bytes; a block write stores what it is sent. Commands that hold no block
// are NAKed on read, and writes of 0 or more than 32 bytes are NAKed.
//
// A stored block may be longer than 32 bytes, to play a device that sends a
// count the SMBus does not allow.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "board/smbus.h"

namespace board {

class BlockDevice : public SmbusDevice {
 public:
  void SetBlock(uint8_t command, std::vector<uint8_t> bytes) { blocks_[command] = bytes; }
  bool HasBlock(uint8_t command) const { return blocks_.count(command) != 0; }
  const std::vector<uint8_t>& Block(uint8_t command) const { return blocks_.at(command); }

  bool BlockRead(uint8_t command, std::vector<uint8_t>* block) override;
  bool BlockWrite(uint8_t command, const std::vector<uint8_t>& block) override;

 private:
  std::map<uint8_t, std::vector<uint8_t>> blocks_;
};

}  // namespace board
