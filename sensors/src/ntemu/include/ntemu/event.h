// Kernel events of the stand-in. The driver sees only PKEVENT; tests and the
// stand-in's own services see the whole object.
//
// A synchronization event is one word: signalled, held, or held with
// sleepers. Taking a signalled event and setting one nobody sleeps on are
// single atomic operations, with no system call and no lock. A waiter spins
// briefly (a transaction on the bus is short), then yields, and only sleeps
// on the word when the holder takes long.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "ntemu/bus_lock_file.h"  // the part of the event other processes see
#include "ntemu/nt.h"

struct _KEVENT {
  std::atomic<uint32_t> state{1};  // ntemu::kEvent* below
  std::atomic<uint64_t> waits{0};  // satisfied waits
  std::atomic<uint64_t> sets{0};
  ntemu::SharedBusLock* systemLock = nullptr;  // mapped, shared with other processes

  _KEVENT() = default;
  ~_KEVENT();  // unmaps the shared part
  _KEVENT(const _KEVENT&) = delete;
  _KEVENT& operator=(const _KEVENT&) = delete;
};

namespace ntemu {

constexpr uint32_t kEventHeld = 0;
constexpr uint32_t kEventSignalled = 1;
constexpr uint32_t kEventHeldWithSleepers = 2;

// A synchronization (auto-reset) event, initially signalled unless told.
void InitializeSynchronizationEvent(KEVENT& event, bool signalled = true);
bool IsSignalled(KEVENT& event);

}  // namespace ntemu
