// Kernel events of the stand-in. The driver sees only PKEVENT; tests and the
// stand-in's own services see the whole object.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "ntemu/nt.h"

struct _KEVENT {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = true;
  bool autoReset = true;  // synchronization event: a satisfied wait resets it
  uint64_t waits = 0;     // satisfied waits
  uint64_t sets = 0;
};

namespace ntemu {

// A synchronization (auto-reset) event, initially signalled unless told.
void InitializeSynchronizationEvent(KEVENT& event, bool signalled = true);
bool IsSignalled(KEVENT& event);

}  // namespace ntemu
