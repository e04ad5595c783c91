// ExAllocatePoolWithTag / ExFreePool of the stand-in.
#include "ntemu/pool.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "ntemu/nt.h"

namespace ntemu {

namespace {

struct Pool {
  std::mutex mutex;
  std::map<void*, PoolAllocation> blocks;
  size_t allocations = 0;
  size_t failuresPending = 0;
  PoolAllocation last{};
};

Pool& ThePool() {
  static Pool pool;
  return pool;
}

}  // namespace

size_t PoolOutstanding() {
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> lock(pool.mutex);
  return pool.blocks.size();
}

size_t PoolAllocationCount() {
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> lock(pool.mutex);
  return pool.allocations;
}

PoolAllocation PoolLastAllocation() {
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> lock(pool.mutex);
  return pool.last;
}

void PoolFailNextAllocations(size_t count) {
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> lock(pool.mutex);
  pool.failuresPending = count;
}

void PoolReset() {
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> lock(pool.mutex);
  pool.allocations = 0;
  pool.failuresPending = 0;
  pool.last = PoolAllocation{};
}

}  // namespace ntemu

extern "C" {

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
  ntemu::Pool& pool = ntemu::ThePool();
  std::lock_guard<std::mutex> lock(pool.mutex);
  if (pool.failuresPending != 0) {
    --pool.failuresPending;
    return nullptr;
  }
  void* block = std::malloc(NumberOfBytes != 0 ? NumberOfBytes : 1);
  if (block == nullptr) return nullptr;
  std::memset(block, ntemu::kPoolPoison, NumberOfBytes);
  const ntemu::PoolAllocation allocation{NumberOfBytes, Tag, static_cast<int>(PoolType)};
  pool.blocks[block] = allocation;
  pool.last = allocation;
  ++pool.allocations;
  return block;
}

VOID ExFreePool(PVOID P) {
  ntemu::Pool& pool = ntemu::ThePool();
  std::lock_guard<std::mutex> lock(pool.mutex);
  const auto found = pool.blocks.find(P);
  if (found == pool.blocks.end()) std::abort();  // freeing what the pool never gave out
  pool.blocks.erase(found);
  std::free(P);
}

}  // extern "C"
