// Kernel events of the stand-in. The driver sees only PKEVENT; tests and the
// stand-in's own services see the whole object.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "ntemu/nt.h"

struct _KEVENT {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = true;
  bool autoReset = true;  // synchronization event: a satisfied wait resets it
  uint64_t waits = 0;     // satisfied waits
  uint64_t sets = 0;
  int systemLock = -1;  // lock file shared with other processes, or -1

  _KEVENT() = default;
  ~_KEVENT();  // closes the lock file
  _KEVENT(const _KEVENT&) = delete;
  _KEVENT& operator=(const _KEVENT&) = delete;
};

namespace ntemu {

// A synchronization (auto-reset) event, initially signalled unless told.
void InitializeSynchronizationEvent(KEVENT& event, bool signalled = true);
bool IsSignalled(KEVENT& event);

// Makes holding the event also hold an exclusive lock on a file named after
// it, so that every process using the same name is serialised too. The
// system drops the lock when a holder dies, so a crashed process never
// leaves the bus locked. False with the reason when the file cannot be opened.
bool AttachSystemWideLock(KEVENT& event, const std::string& name, std::string* error);
void DetachSystemWideLock(KEVENT& event);
// Where the lock file of `name` lives.
std::string SystemWideLockPath(const std::string& name);

}  // namespace ntemu
