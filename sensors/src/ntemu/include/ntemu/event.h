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

#include "ntemu/nt.h"

namespace ntemu {
struct SharedBusLock;  // the part of the event other processes see
}

struct _KEVENT {
  std::atomic<uint32_t> state{1};  // ntemu::kEvent* below
  std::atomic<uint64_t> waits{0};  // satisfied waits
  std::atomic<uint64_t> sets{0};
  std::atomic<NTSTATUS> interruption{STATUS_SUCCESS};  // armed by ntemu::InterruptWait
  ntemu::SharedBusLock* systemLock = nullptr;          // mapped, shared with other processes

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

// Makes holding the event also hold a mutex shared with every process that
// attaches the same name: a process-shared, robust mutex in a small file
// mapped from the lock folder. Taking and releasing it uncontended costs no
// system call. A holder that dies, in or out of a transaction, is noticed by
// the next taker, which makes the mutex consistent and carries on, so a
// crashed process never leaves the bus held. False with the reason when the
// file cannot be opened or mapped.
bool AttachSystemWideLock(KEVENT& event, const std::string& name, std::string* error);
void DetachSystemWideLock(KEVENT& event);
// Where the shared file of `name` lives: in the lock folder (below), named
// after the event.
std::string SystemWideLockPath(const std::string& name);
// The lock folder: /run/lock (or /tmp where there is none) unless set; an
// empty folder goes back to that default. For tests, which keep their files
// to themselves.
void SetSystemWideLockFolder(const std::string& folder);

// How the shared mutex of `name` stands, seen from a fresh mapping by
// another thread: free, held by a live holder, or left by a dead one (which
// the probe then recovers, as a taker would). Missing when no file exists.
enum class SharedLockState { Free, Held, HolderDied, Missing };
SharedLockState ProbeSystemWideLock(const std::string& name);
// How many takers so far found the holder of `name` dead and recovered the
// mutex (0 when no file exists).
uint64_t DeadHoldersRecovered(const std::string& name);

}  // namespace ntemu
