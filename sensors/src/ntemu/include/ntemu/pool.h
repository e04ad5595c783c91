// Pool memory of the stand-in: every block is tracked so that tests can see
// what the driver allocated and that it freed it, and allocation failure can
// be injected.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ntemu {

// Fresh blocks are filled with this byte: the real pool does not clear them.
constexpr uint8_t kPoolPoison = 0xA5;

struct PoolAllocation {
  size_t size;
  uint32_t tag;
  int poolType;
};

size_t PoolOutstanding();                    // blocks allocated and not yet freed
size_t PoolAllocationCount();                // allocations that succeeded since the reset
PoolAllocation PoolLastAllocation();         // the latest successful allocation
void PoolFailNextAllocations(size_t count);  // the next `count` allocations return null
void PoolReset();                            // forgets statistics and pending faults (not blocks)

}  // namespace ntemu
