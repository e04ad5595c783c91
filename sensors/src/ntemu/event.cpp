#include "ntemu/event.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "ntemu/clock.h"

namespace ntemu {

// The mapped file: one per event name, shared by every process that attaches
// it. The magic is written last, once the mutex is set up.
struct SharedBusLock {
  uint32_t magic;
  uint32_t size;
  pthread_mutex_t mutex;              // process-shared, robust
  std::atomic<uint64_t> deadHolders;  // takers that found the holder dead
};

namespace {

constexpr uint32_t kSharedMagic = 0x4F4D4231;  // "OMB1": this layout
constexpr int kSpins = 200;                    // pauses before yielding: a transaction is short
constexpr int kYields = 50;                    // yields before sleeping on the word
// A sleeping waiter looks at its clock and for an interruption at least this
// often (in 100-ns units, real time): 1 ms. On the virtual clock only other
// threads' pauses or the test move time, so a bounded wait cannot sleep
// through to its end in one go.
constexpr uint64_t kWaitSlice = 10000;

std::string& FolderOverride() {
  static std::string folder;
  return folder;
}

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

// Signals the event within the process, waking one sleeper if there is one.
uint32_t ReleaseLocal(std::atomic<uint32_t>& state) {
  const uint32_t previous = state.exchange(kEventSignalled, std::memory_order_release);
  if (previous == kEventHeldWithSleepers) Futex(&state, FUTEX_WAKE_PRIVATE, 1);
  return previous;
}

void LockFile(int fd) {
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

void InitializeShared(SharedBusLock& shared) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&shared.mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  shared.deadHolders.store(0);
  shared.size = sizeof(SharedBusLock);
  std::atomic_thread_fence(std::memory_order_release);
  shared.magic = kSharedMagic;
}

// Maps the file at `path`, setting it up if it is new or of another layout.
// The file lock serialises only this set-up, never a request.
SharedBusLock* MapShared(const std::string& path, bool create, std::string* error) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
  if (fd < 0) {
    if (error) *error = "cannot open the bus lock " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  LockFile(fd);
  struct stat info;
  const bool sized = fstat(fd, &info) == 0 && info.st_size >= off_t{sizeof(SharedBusLock)};
  void* mapped = MAP_FAILED;
  if (sized || (create && ftruncate(fd, sizeof(SharedBusLock)) == 0)) {
    mapped = mmap(nullptr, sizeof(SharedBusLock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  if (mapped == MAP_FAILED && error) {
    *error = "cannot map the bus lock " + path + ": " + std::strerror(errno);
  }
  auto* shared = mapped == MAP_FAILED ? nullptr : static_cast<SharedBusLock*>(mapped);
  if (shared != nullptr && shared->magic != kSharedMagic) InitializeShared(*shared);
  flock(fd, LOCK_UN);
  close(fd);
  return shared;
}

void Unmap(SharedBusLock* shared) {
  if (shared != nullptr) munmap(shared, sizeof(SharedBusLock));
}

// The holder died holding the mutex: the taker owns it now and makes it
// consistent. Whatever the dead holder left half done on the controller, the
// next transaction's wait for an idle host deals with, as after any failure.
void RecoverFromDeadHolder(SharedBusLock& shared) {
  shared.deadHolders.fetch_add(1);
  pthread_mutex_consistent(&shared.mutex);
}

// While another process holds the mutex, it is waited for in slices of
// real time, so that the wait's own ends are seen.
NTSTATUS TakeShared(KEVENT& event, SharedBusLock& shared, WaitRules& rules) {
  int result = pthread_mutex_trylock(&shared.mutex);
  while (result == EBUSY || result == ETIMEDOUT) {
    const NTSTATUS ended = WaitEnds(event, rules);
    if (ended != STATUS_SUCCESS) return ended;
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);  // the clock pthread_mutex_timedlock reads
    const struct timespec slice = SliceOf(rules);
    until.tv_nsec += slice.tv_nsec;  // a slice is below a second
    if (until.tv_nsec >= 1000000000) {
      until.tv_sec += 1;
      until.tv_nsec -= 1000000000;
    }
    result = pthread_mutex_timedlock(&shared.mutex, &until);
  }
  if (result == EOWNERDEAD) RecoverFromDeadHolder(shared);
  // ENOTRECOVERABLE cannot come: every taker of a dead holder's mutex makes
  // it consistent before it lets go.
  if (result != 0 && result != EOWNERDEAD) std::abort();
  return STATUS_SUCCESS;
}

}  // namespace

void InitializeSynchronizationEvent(KEVENT& event, bool signalled) {
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

void SetSystemWideLockFolder(const std::string& folder) {
  FolderOverride() = folder;
}

std::string SystemWideLockPath(const std::string& name) {
  std::string file;
  for (char c : name) {
    if (c == '\\' || c == '/') {
      if (!file.empty()) file += '_';
      continue;
    }
    file += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));  // names fold case
  }
  std::string folder = FolderOverride();
  if (folder.empty()) {
    struct stat info;
    folder = stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode) ? "/run/lock" : "/tmp";
  }
  return folder + "/omzi2c-" + file + ".lock";
}

bool AttachSystemWideLock(KEVENT& event, const std::string& name, std::string* error) {
  SharedBusLock* shared = MapShared(SystemWideLockPath(name), /*create=*/true, error);
  if (shared == nullptr) return false;
  DetachSystemWideLock(event);
  event.systemLock = shared;
  return true;
}

void DetachSystemWideLock(KEVENT& event) {
  Unmap(event.systemLock);
  event.systemLock = nullptr;
}

SharedLockState ProbeSystemWideLock(const std::string& name) {
  SharedBusLock* shared = MapShared(SystemWideLockPath(name), /*create=*/false, nullptr);
  if (shared == nullptr) return SharedLockState::Missing;
  SharedLockState state = SharedLockState::Held;
  // From a thread of its own: the caller's thread may be the holder.
  std::thread probe([shared, &state] {
    const int result = pthread_mutex_trylock(&shared->mutex);
    if (result == EBUSY) return;
    if (result == EOWNERDEAD) RecoverFromDeadHolder(*shared);
    state = result == EOWNERDEAD ? SharedLockState::HolderDied : SharedLockState::Free;
    pthread_mutex_unlock(&shared->mutex);
  });
  probe.join();
  Unmap(shared);
  return state;
}

uint64_t DeadHoldersRecovered(const std::string& name) {
  SharedBusLock* shared = MapShared(SystemWideLockPath(name), /*create=*/false, nullptr);
  if (shared == nullptr) return 0;
  const uint64_t count = shared->deadHolders.load();
  Unmap(shared);
  return count;
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
  NTSTATUS status = ntemu::TakeLocal(event, rules);
  if (status == STATUS_SUCCESS && event.systemLock != nullptr) {
    status = ntemu::TakeShared(event, *event.systemLock, rules);
    if (status != STATUS_SUCCESS) ntemu::ReleaseLocal(event.state);
  }
  if (status != STATUS_SUCCESS) return status;
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
  return ntemu::ReleaseLocal(Event->state) == ntemu::kEventSignalled ? 1 : 0;
}

}  // extern "C"
