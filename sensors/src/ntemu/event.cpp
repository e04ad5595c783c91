#include "ntemu/event.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "ntemu/clock.h"

namespace ntemu {

namespace {

constexpr int kSpins = 200;  // pauses before yielding: a transaction is short
constexpr int kYields = 50;  // yields before sleeping on the word
// A sleeping waiter looks at its clock and for an interruption at least this
// often (in 100-ns units, real time): 1 ms. On the virtual clock only other
// threads' pauses or the test move time, so a bounded wait cannot sleep
// through to its end in one go.
constexpr uint64_t kWaitSlice = 10000;

void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

long Futex(std::atomic<uint32_t>* word, int operation, uint32_t value,
           const struct timespec* timeout = nullptr) {
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "futex word");
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), operation, value, timeout, nullptr,
                 0);
}

struct timespec Timespec(uint64_t length100ns) {
  struct timespec value;
  value.tv_sec = static_cast<time_t>(length100ns / 10000000);
  value.tv_nsec = static_cast<long>(length100ns % 10000000 * 100);
  return value;
}

// How one wait may end without the event: at its deadline on the current
// clock (with a time-out), or by an interruption (when alertable). The clock
// is first read once the event cannot be taken at once.
struct WaitRules {
  KPROCESSOR_MODE mode;
  bool alertable;
  PLARGE_INTEGER timeout;  // null: none; negative: relative; else absolute, on the clock
  bool started;
  uint64_t deadline;
  uint64_t now;  // at the last look
};

// STATUS_SUCCESS while the wait goes on; else why it ends. An armed
// interruption is taken by an alertable wait only, a user APC only by a
// wait in user mode, as the kernel delivers them; it comes before the
// deadline, as in the kernel.
NTSTATUS WaitEnds(KEVENT& event, WaitRules& rules) {
  NTSTATUS armed = event.interruption.load(std::memory_order_relaxed);
  const bool delivered = armed != STATUS_SUCCESS && rules.alertable &&
                         (armed != STATUS_USER_APC || rules.mode == UserMode);
  if (delivered && event.interruption.compare_exchange_strong(armed, STATUS_SUCCESS)) return armed;
  if (rules.timeout == nullptr) return STATUS_SUCCESS;
  rules.now = CurrentClock().Now();
  if (!rules.started) {
    const LONGLONG length = rules.timeout->QuadPart;
    rules.deadline =
        length < 0 ? rules.now + static_cast<uint64_t>(-length) : static_cast<uint64_t>(length);
    rules.started = true;
  }
  return rules.now >= rules.deadline ? STATUS_TIMEOUT : STATUS_SUCCESS;
}

// How long a sleeper may sleep before it looks again, once WaitEnds let it
// go on.
struct timespec SliceOf(const WaitRules& rules) {
  const uint64_t left = rules.timeout == nullptr ? kWaitSlice : rules.deadline - rules.now;
  return Timespec(left < kWaitSlice ? left : kWaitSlice);
}

bool TrySignalledToHeld(std::atomic<uint32_t>& state) {
  uint32_t expected = kEventSignalled;
  return state.compare_exchange_strong(expected, kEventHeld, std::memory_order_acquire,
                                       std::memory_order_relaxed);
}

// Within the process: spin, then yield, then sleep with the word marked so
// that the setter knows to wake a sleeper. STATUS_SUCCESS once held; else
// why the wait ended without it.
NTSTATUS TakeLocal(KEVENT& event, WaitRules& rules) {
  std::atomic<uint32_t>& state = event.state;
  if (TrySignalledToHeld(state)) return STATUS_SUCCESS;
  NTSTATUS ended = WaitEnds(event, rules);  // a time-out of 0, an interruption
  if (ended != STATUS_SUCCESS) return ended;
  for (int round = 0; round < kSpins + kYields; ++round) {
    if (round < kSpins) {
      CpuRelax();
    } else {
      sched_yield();
    }
    if (state.load(std::memory_order_relaxed) == kEventSignalled && TrySignalledToHeld(state)) {
      return STATUS_SUCCESS;
    }
  }
  while (state.exchange(kEventHeldWithSleepers, std::memory_order_acquire) != kEventSignalled) {
    ended = WaitEnds(event, rules);
    if (ended != STATUS_SUCCESS) return ended;
    const struct timespec slice = SliceOf(rules);
    Futex(&state, FUTEX_WAIT_PRIVATE, kEventHeldWithSleepers, &slice);
  }
  return STATUS_SUCCESS;
}

// A notification event: waits until it is signalled, leaving it so.
NTSTATUS AwaitNotification(KEVENT& event, WaitRules& rules) {
  std::atomic<uint32_t>& state = event.state;
  while (state.load(std::memory_order_acquire) != kEventSignalled) {
    const NTSTATUS ended = WaitEnds(event, rules);
    if (ended != STATUS_SUCCESS) return ended;
    uint32_t seen = kEventHeld;
    state.compare_exchange_strong(seen, kEventHeldWithSleepers);
    const struct timespec slice = SliceOf(rules);
    Futex(&state, FUTEX_WAIT_PRIVATE, kEventHeldWithSleepers, &slice);
  }
  return STATUS_SUCCESS;
}

// Signals the event within the process, waking one sleeper if there is one.
uint32_t ReleaseLocal(std::atomic<uint32_t>& state) {
  const uint32_t previous = state.exchange(kEventSignalled, std::memory_order_release);
  if (previous == kEventHeldWithSleepers) Futex(&state, FUTEX_WAKE_PRIVATE, 1);
  return previous;
}

// While another process holds the mutex, it is waited for in slices of
// real time, so that the wait's own ends are seen. The first try is at once.
NTSTATUS TakeSharedWithin(KEVENT& event, SharedBusLock& shared, WaitRules& rules) {
  struct timespec until;
  clock_gettime(CLOCK_REALTIME, &until);  // the clock pthread_mutex_timedlock reads
  while (!TakeShared(shared, &until)) {
    const NTSTATUS ended = WaitEnds(event, rules);
    if (ended != STATUS_SUCCESS) return ended;
    clock_gettime(CLOCK_REALTIME, &until);
    const struct timespec slice = SliceOf(rules);
    until.tv_nsec += slice.tv_nsec;  // a slice is below a second
    if (until.tv_nsec >= 1000000000) {
      until.tv_sec += 1;
      until.tv_nsec -= 1000000000;
    }
  }
  return STATUS_SUCCESS;
}

}  // namespace

void InitializeSynchronizationEvent(KEVENT& event, bool signalled) {
  InitializeEvent(event, SynchronizationEvent, signalled);
}

void InitializeEvent(KEVENT& event, EVENT_TYPE type, bool signalled) {
  event.Header.Type = static_cast<UCHAR>(type);
  event.state.store(signalled ? kEventSignalled : kEventHeld);
  event.waits.store(0);
  event.sets.store(0);
  event.interruption.store(STATUS_SUCCESS);
}

void InterruptWait(KEVENT& event, NTSTATUS status) {
  event.interruption.store(status);
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
// event. The thread that waited is the one that sets, as in the driver. A
// wait that ends without the event (its time-out, an interruption) holds
// neither and counts as no wait: the event is given back if only the first
// part was taken.
NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout) {
  KEVENT& event = *static_cast<KEVENT*>(Object);
  ntemu::WaitRules rules = {WaitMode, Alertable != FALSE, Timeout, false, 0, 0};
  if (event.Header.Type == NotificationEvent) return ntemu::AwaitNotification(event, rules);
  NTSTATUS status = ntemu::TakeLocal(event, rules);
  if (status == STATUS_SUCCESS && event.systemLock != nullptr) {
    status = ntemu::TakeSharedWithin(event, *event.systemLock, rules);
    if (status != STATUS_SUCCESS) ntemu::ReleaseLocal(event.state);
  }
  if (status != STATUS_SUCCESS) return status;
  event.waits.store(event.waits.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  return STATUS_SUCCESS;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN) {
  if (Event->Header.Type == NotificationEvent) {
    Event->sets.fetch_add(1, std::memory_order_relaxed);
    const uint32_t previous = Event->state.exchange(ntemu::kEventSignalled);
    if (previous == ntemu::kEventHeldWithSleepers) {
      ntemu::Futex(&Event->state, FUTEX_WAKE_PRIVATE, INT32_MAX);
    }
    return previous == ntemu::kEventSignalled ? 1 : 0;
  }
  const bool held = Event->state.load(std::memory_order_relaxed) != ntemu::kEventSignalled;
  if (held) {  // by this thread: nobody else counts now
    Event->sets.store(Event->sets.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (Event->systemLock != nullptr) pthread_mutex_unlock(&Event->systemLock->mutex);
  } else {
    Event->sets.fetch_add(1, std::memory_order_relaxed);
  }
  return ntemu::ReleaseLocal(Event->state) == ntemu::kEventSignalled ? 1 : 0;
}

}  // extern "C"
