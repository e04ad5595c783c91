#include "board/block_device.h"

namespace board {

bool BlockDevice::BlockRead(uint8_t command, std::vector<uint8_t>* block) {
  const auto it = blocks_.find(command);
  if (it == blocks_.end()) return false;
  *block = it->second;
  return true;
}

bool BlockDevice::BlockWrite(uint8_t command, const std::vector<uint8_t>& block) {
  if (block.empty() || block.size() > kSmbusMaxBlock) return false;
  blocks_[command] = block;
  return true;
}

}  // namespace board
