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
  DISPATCHER_HEADER Header{SynchronizationEvent};  // first, as in the kernel
  std::atomic<uint32_t> state{1};                  // ntemu::kEvent* below
  std::atomic<uint64_t> waits{0};                  // satisfied waits
  std::atomic<uint64_t> sets{0};
  std::atomic<NTSTATUS> interruption{STATUS_SUCCESS};  // armed by ntemu::InterruptWait
  ntemu::SharedBusLock* systemLock = nullptr;          // mapped, shared with other processes
  int systemLockFile = -1;                             // its file, kept open while mapped

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
// An event of either kind. A notification event stays signalled when a wait
// is satisfied and lets every waiter through: it gives no mutual exclusion.
void InitializeEvent(KEVENT& event, EVENT_TYPE type, bool signalled);
bool IsSignalled(KEVENT& event);

// Waits: KeWaitForSingleObject honours its time-out (relative when
// negative, else absolute) on the current clock, so on the virtual clock a
// bounded wait ends once virtual time passes its deadline, moved on by other
// threads' pauses or by the test, whatever the real time. A sleeping waiter
// looks at the clock at least once a millisecond of real time.
//
// Ends the next alertable wait on `event` that does not get it at once, or
// one already waiting, as an alert (STATUS_ALERTED) or a user APC
// (STATUS_USER_APC, which only a wait in user mode takes) ends it when the
// waiting thread is being ended: that wait returns `status` without the
// event. Stays armed until a wait takes it.
void InterruptWait(KEVENT& event, NTSTATUS status);

}  // namespace ntemu
