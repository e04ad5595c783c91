#include "ntemu/bus_lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "ntemu/event.h"

namespace ntemu {

namespace {

constexpr uint32_t kSharedMagic = 0x4F4D4231;  // "OMB1": this layout

// The lock folder is the project's own, so that nobody but its owner can
// plant, replace or change a file in it; each file is checked again anyway.
const char kDefaultFolder[] = "/run/omzi2c";
constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0600;
constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;
const char kRecovery[] =
    "; remove it when no omzi2c process runs, and the next one makes it afresh";

std::string& FolderOverride() {
  static std::string folder;
  return folder;
}

std::string Folder() {
  return FolderOverride().empty() ? kDefaultFolder : FolderOverride();
}

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// What makes `info` untrustworthy as the lock folder or as a lock file of
// someone else's making or changing; empty when nothing does.
std::string OwnerProblem(const struct stat& info) {
  if (info.st_uid != geteuid()) {
    return "it is owned by user " + std::to_string(info.st_uid) + ", not by this process's user " +
           std::to_string(geteuid());
  }
  if ((info.st_mode & kWritableByOthers) != 0) {
    return "group or others may write to it (mode " + Octal(info.st_mode) + ")";
  }
  return std::string();
}

std::string FolderProblem(const struct stat& info) {
  if (!S_ISDIR(info.st_mode)) return "it is not a directory";
  return OwnerProblem(info);
}

// A new file is empty until its creator sizes it; any other size is not a
// lock of this layout (a truncated one would fault whoever maps it).
std::string FileProblem(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return "it is not a regular file";
  if (info.st_nlink != 1) return "it has " + std::to_string(info.st_nlink) + " links";
  if (info.st_size != 0 && info.st_size != off_t{sizeof(SharedBusLock)}) {
    return "it holds " + std::to_string(info.st_size) + " bytes, not " +
           std::to_string(sizeof(SharedBusLock));
  }
  return OwnerProblem(info);
}

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

bool Refuse(std::string* error, const char* what, const std::string& path,
            const std::string& problem) {
  return Fail(error, "refusing the bus lock " + std::string(what) + " " + path + ": " + problem +
                         kRecovery);
}

// Why a path that is never followed through a link could not be opened:
// what it is, or the system's reason.
bool OpenFailed(std::string* error, const char* what, const std::string& path, int errorNumber) {
  struct stat info;
  const bool link = lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
  if (link) return Refuse(error, what, path, "it is a symbolic link");
  if (errorNumber == ENOTDIR) return Refuse(error, what, path, "it is not a directory");
  if (errorNumber == EISDIR) return Refuse(error, what, path, "it is not a regular file");
  return Fail(error, "cannot open the bus lock " + std::string(what) + " " + path + ": " +
                         std::strerror(errorNumber));
}

// The lock folder, made if missing (when `create`), opened without
// following a link and checked; -1 when missing or refused.
int OpenFolder(const std::string& folder, bool create, std::string* error) {
  if (create && mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) {
    Fail(error, "cannot make the bus lock folder " + folder + ": " + std::strerror(errno));
    return -1;
  }
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT || create) OpenFailed(error, "folder", folder, errno);
    return -1;
  }
  struct stat info;
  const std::string problem = fstat(fd, &info) == 0 ? FolderProblem(info) : std::strerror(errno);
  if (problem.empty()) return fd;
  close(fd);
  Refuse(error, "folder", folder, problem);
  return -1;
}

// Blocking file lock `operation`, taken again after a signal.
void LockFile(int fd, int operation) {
  while (flock(fd, operation) != 0 && errno == EINTR) {
  }
}

const char kForeignHeader[] = "its header is not that of a bus lock of this version";

// The file as it is now; empty when it may be used, else why not. A header
// that is neither this layout's nor clear (a new file's) is seen without
// mapping the file.
std::string ProblemNow(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) return std::strerror(errno);
  const std::string problem = FileProblem(info);
  if (!problem.empty() || info.st_size == 0) return problem;
  uint32_t header[2] = {};
  if (pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
    return std::strerror(errno);
  }
  const bool clear = header[0] == 0 && header[1] == 0;
  const bool ours = header[0] == kSharedMagic && header[1] == sizeof(SharedBusLock);
  return clear || ours ? std::string() : kForeignHeader;
}

// A lock file cut short while mapped would fault whoever touches the
// mapping. A process's mappings are listed here; a fault on one of them puts
// a private page in the file's place, so the process goes on with the event
// held within it, and is counted. Another process cannot take the cut file
// over meanwhile: only one that holds the file alone may set it up afresh.
constexpr int kMaxMappings = 64;
std::atomic<uintptr_t> mappedLocks[kMaxMappings];
std::atomic<uint64_t> lostMappings{0};
size_t pageSize = 0;
struct sigaction previousBusError;

size_t MappingLength() {
  return (sizeof(SharedBusLock) + pageSize - 1) / pageSize * pageSize;
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (std::atomic<uintptr_t>& slot : mappedLocks) {
    const uintptr_t start = slot.load();
    if (start == 0 || address < start || address >= start + MappingLength()) continue;
    void* page = mmap(reinterpret_cast<void*>(start), MappingLength(), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (page != MAP_FAILED) {
      lostMappings.fetch_add(1);
      return;  // the access is made again, on the private page
    }
  }
  if ((previousBusError.sa_flags & SA_SIGINFO) != 0 && previousBusError.sa_sigaction != nullptr) {
    previousBusError.sa_sigaction(signal, info, context);
  } else if (previousBusError.sa_handler != SIG_DFL && previousBusError.sa_handler != SIG_IGN) {
    previousBusError.sa_handler(signal);
  } else {
    std::signal(SIGBUS, SIG_DFL);  // the access faults again, and ends the process
  }
}

void WatchMapping(void* mapped) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previousBusError);
  });
  for (std::atomic<uintptr_t>& slot : mappedLocks) {
    uintptr_t free = 0;
    if (slot.compare_exchange_strong(free, reinterpret_cast<uintptr_t>(mapped))) return;
  }
}

void ForgetMapping(void* mapped) {
  for (std::atomic<uintptr_t>& slot : mappedLocks) {
    uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    if (slot.compare_exchange_strong(start, 0)) return;
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

// Maps the checked file `fd`. With `alone` (this process holds the file
// alone) a new one is sized and set up (all zero: a creator that died before
// its magic was written counts as new); otherwise an empty or cleared file is
// one cut or cleared while another process uses it, and refused.
SharedBusLock* MapChecked(int fd, bool create, bool alone, const std::string& path,
                          std::string* error) {
  struct stat info;
  if (fstat(fd, &info) != 0) {
    Fail(error, "cannot read the bus lock " + path + ": " + std::strerror(errno));
    return nullptr;
  }
  const char kCut[] = "it was emptied while another process uses it";
  if (info.st_size == 0) {
    if (!alone) {
      Refuse(error, "file", path, kCut);
      return nullptr;
    }
    if (!create) return nullptr;  // not set up yet
    if (ftruncate(fd, sizeof(SharedBusLock)) != 0) {
      Fail(error, "cannot size the bus lock " + path + ": " + std::strerror(errno));
      return nullptr;
    }
  }
  void* mapped = mmap(nullptr, sizeof(SharedBusLock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mapped == MAP_FAILED) {
    Fail(error, "cannot map the bus lock " + path + ": " + std::strerror(errno));
    return nullptr;
  }
  auto* shared = static_cast<SharedBusLock*>(mapped);
  const bool cleared = shared->magic == 0 && shared->size == 0;
  if (cleared && alone) InitializeShared(*shared);
  if (shared->magic == kSharedMagic && shared->size == sizeof(SharedBusLock)) {
    WatchMapping(mapped);
    return shared;
  }
  munmap(mapped, sizeof(SharedBusLock));
  Refuse(error, "file", path, cleared ? kCut : kForeignHeader);
  return nullptr;
}

// Maps the file of `name` in the lock folder, creating it if asked, and
// keeps it open in `fd` with a shared file lock for as long as it is mapped;
// without `create` it only looks at a file set up already, taking no file
// lock.
// Neither the folder nor the file is followed through a link, and either is
// refused, before any wait for the file lock, unless only this process's
// user may have written it. The file lock serialises only the set-up, never
// a request: a process that gets it exclusively is the only one with the
// file open and may set it up; the others map what it set up.
SharedBusLock* MapShared(const std::string& name, bool create, int* fd, std::string* error) {
  const int folder = OpenFolder(Folder(), create, error);
  if (folder < 0) return nullptr;
  const std::string path = SystemWideLockPath(name);
  const std::string file = path.substr(path.rfind('/') + 1);
  const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (create ? O_CREAT : 0);
  *fd = openat(folder, file.c_str(), flags, kFileMode);
  const int openError = errno;
  close(folder);
  if (*fd < 0) {
    if (openError != ENOENT || create) OpenFailed(error, "file", path, openError);
    return nullptr;
  }
  std::string problem = ProblemNow(*fd);
  SharedBusLock* shared = nullptr;
  if (problem.empty() && !create) {  // a look: no file lock, nothing set up
    shared = MapChecked(*fd, create, /*alone=*/false, path, error);
  } else if (problem.empty()) {
    const bool alone = flock(*fd, LOCK_EX | LOCK_NB) == 0;
    if (!alone) LockFile(*fd, LOCK_SH);
    problem = ProblemNow(*fd);  // as it stands now that nobody sets it up
    if (problem.empty()) shared = MapChecked(*fd, create, alone, path, error);
    if (alone) LockFile(*fd, LOCK_SH);
  }
  if (!problem.empty()) Refuse(error, "file", path, problem);
  if (shared == nullptr) {
    close(*fd);
    *fd = -1;
  }
  return shared;
}

void Unmap(SharedBusLock* shared, int fd) {
  if (shared != nullptr) {
    ForgetMapping(shared);
    munmap(shared, sizeof(SharedBusLock));
  }
  if (fd >= 0) close(fd);
}

// The holder died holding the mutex: the taker owns it now and makes it
// consistent. Whatever the dead holder left half done on the controller, the
// next transaction's wait for an idle host deals with, as after any failure.
void RecoverFromDeadHolder(SharedBusLock& shared) {
  shared.deadHolders.fetch_add(1);
  pthread_mutex_consistent(&shared.mutex);
}

}  // namespace

bool TakeShared(SharedBusLock& shared, const struct timespec* until) {
  const int result = until == nullptr ? pthread_mutex_lock(&shared.mutex)
                                      : pthread_mutex_timedlock(&shared.mutex, until);
  if (result == ETIMEDOUT) return false;
  if (result == EOWNERDEAD) RecoverFromDeadHolder(shared);
  // ENOTRECOVERABLE cannot come: every taker of a dead holder's mutex makes
  // it consistent before it lets go.
  if (result != 0 && result != EOWNERDEAD) std::abort();
  return true;
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
  return Folder() + "/" + file + ".lock";
}

bool AttachSystemWideLock(KEVENT& event, const std::string& name, std::string* error) {
  int fd = -1;
  SharedBusLock* shared = MapShared(name, /*create=*/true, &fd, error);
  if (shared == nullptr) return false;
  DetachSystemWideLock(event);
  event.systemLock = shared;
  event.systemLockFile = fd;
  return true;
}

void DetachSystemWideLock(KEVENT& event) {
  Unmap(event.systemLock, event.systemLockFile);
  event.systemLock = nullptr;
  event.systemLockFile = -1;
}

uint64_t SystemWideLocksCut() {
  return lostMappings.load();
}

SharedLockState ProbeSystemWideLock(const std::string& name) {
  int fd = -1;
  SharedBusLock* shared = MapShared(name, /*create=*/false, &fd, nullptr);
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
  Unmap(shared, fd);
  return state;
}

uint64_t DeadHoldersRecovered(const std::string& name) {
  int fd = -1;
  SharedBusLock* shared = MapShared(name, /*create=*/false, &fd, nullptr);
  if (shared == nullptr) return 0;
  const uint64_t count = shared->deadHolders.load();
  Unmap(shared, fd);
  return count;
}

}  // namespace ntemu
