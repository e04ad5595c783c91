#include "ntemu/event.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

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

std::string& FolderOverride() {
  static std::string folder;
  return folder;
}

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

void TakeShared(SharedBusLock& shared) {
  const int result = pthread_mutex_lock(&shared.mutex);
  if (result == EOWNERDEAD) RecoverFromDeadHolder(shared);
  // ENOTRECOVERABLE cannot come: every taker of a dead holder's mutex makes
  // it consistent before it lets go.
  if (result != 0 && result != EOWNERDEAD) std::abort();
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
