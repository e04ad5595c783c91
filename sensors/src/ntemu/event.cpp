#include "ntemu/event.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ntemu {

namespace {

constexpr int kSpins = 200;  // pauses before yielding: a transaction is short
constexpr int kYields = 50;  // yields before sleeping on the word

void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

long Futex(std::atomic<uint32_t>* word, int operation, uint32_t value) {
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "futex word");
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), operation, value, nullptr, nullptr,
                 0);
}

bool TrySignalledToHeld(std::atomic<uint32_t>& state) {
  uint32_t expected = kEventSignalled;
  return state.compare_exchange_strong(expected, kEventHeld, std::memory_order_acquire,
                                       std::memory_order_relaxed);
}

// Within the process: spin, then yield, then sleep with the word marked so
// that the setter knows to wake a sleeper.
void TakeLocal(std::atomic<uint32_t>& state) {
  if (TrySignalledToHeld(state)) return;
  for (int round = 0; round < kSpins + kYields; ++round) {
    if (round < kSpins) {
      CpuRelax();
    } else {
      sched_yield();
    }
    if (state.load(std::memory_order_relaxed) == kEventSignalled && TrySignalledToHeld(state)) {
      return;
    }
  }
  while (state.exchange(kEventHeldWithSleepers, std::memory_order_acquire) != kEventSignalled) {
    Futex(&state, FUTEX_WAIT_PRIVATE, kEventHeldWithSleepers);
  }
}

}  // namespace

void InitializeSynchronizationEvent(KEVENT& event, bool signalled) {
  event.state.store(signalled ? kEventSignalled : kEventHeld);
  event.waits.store(0);
  event.sets.store(0);
}

bool IsSignalled(KEVENT& event) {
  return event.state.load() == kEventSignalled;
}

}  // namespace ntemu

_KEVENT::~_KEVENT() {
  ntemu::DetachSystemWideLock(*this);
}

extern "C" {

// Within the process the event is taken first; across processes the shared
// mutex is then taken too, by the one thread of this process that holds the
// event. The thread that waited is the one that sets, as in the driver.
NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               PLARGE_INTEGER) {
  KEVENT& event = *static_cast<KEVENT*>(Object);
  ntemu::TakeLocal(event.state);
  if (event.systemLock != nullptr) ntemu::TakeShared(*event.systemLock);
  event.waits.store(event.waits.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  return STATUS_SUCCESS;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN) {
  const bool held = Event->state.load(std::memory_order_relaxed) != ntemu::kEventSignalled;
  if (held) {  // by this thread: nobody else counts now
    Event->sets.store(Event->sets.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (Event->systemLock != nullptr) pthread_mutex_unlock(&Event->systemLock->mutex);
  } else {
    Event->sets.fetch_add(1, std::memory_order_relaxed);
  }
  const uint32_t previous =
      Event->state.exchange(ntemu::kEventSignalled, std::memory_order_release);
  if (previous == ntemu::kEventHeldWithSleepers) {
    ntemu::Futex(&Event->state, FUTEX_WAKE_PRIVATE, 1);
  }
  return previous == ntemu::kEventSignalled ? 1 : 0;
}

}  // extern "C"
