#include "ntemu/bus_lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "ntemu/event.h"

namespace ntemu {

namespace {

constexpr uint32_t kSharedMagic = 0x4F4D4231;  // "OMB1": this layout

std::string& FolderOverride() {
  static std::string folder;
  return folder;
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

}  // namespace

void TakeShared(SharedBusLock& shared) {
  const int result = pthread_mutex_lock(&shared.mutex);
  if (result == EOWNERDEAD) RecoverFromDeadHolder(shared);
  // ENOTRECOVERABLE cannot come: every taker of a dead holder's mutex makes
  // it consistent before it lets go.
  if (result != 0 && result != EOWNERDEAD) std::abort();
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
