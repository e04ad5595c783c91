#include "ntemu/bus_lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// Maps the checked, locked file `fd`, sizing and setting up a new one (all
// zero: a creator that died before its magic was written counts as new).
SharedBusLock* MapChecked(int fd, const struct stat& info, bool create, const std::string& path,
                          std::string* error) {
  if (info.st_size == 0) {
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
  if (shared->magic == 0 && shared->size == 0) InitializeShared(*shared);
  if (shared->magic == kSharedMagic && shared->size == sizeof(SharedBusLock)) return shared;
  munmap(mapped, sizeof(SharedBusLock));
  Refuse(error, "file", path, "its header is not that of a bus lock of this version");
  return nullptr;
}

// Maps the file of `name` in the lock folder, creating it if asked. Neither
// the folder nor the file is followed through a link, and either is refused
// unless only this process's user may have written it. The file lock
// serialises only the set-up, never a request.
SharedBusLock* MapShared(const std::string& name, bool create, std::string* error) {
  const int folder = OpenFolder(Folder(), create, error);
  if (folder < 0) return nullptr;
  const std::string path = SystemWideLockPath(name);
  const std::string file = path.substr(path.rfind('/') + 1);
  const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0);
  const int fd = openat(folder, file.c_str(), flags, kFileMode);
  const int openError = errno;
  close(folder);
  if (fd < 0) {
    if (openError != ENOENT || create) OpenFailed(error, "file", path, openError);
    return nullptr;
  }
  LockFile(fd);
  struct stat info;
  const std::string problem = fstat(fd, &info) == 0 ? FileProblem(info) : std::strerror(errno);
  SharedBusLock* shared = nullptr;
  if (problem.empty()) shared = MapChecked(fd, info, create, path, error);
  if (!problem.empty()) Refuse(error, "file", path, problem);
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
  SharedBusLock* shared = MapShared(name, /*create=*/true, error);
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
  SharedBusLock* shared = MapShared(name, /*create=*/false, nullptr);
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
  SharedBusLock* shared = MapShared(name, /*create=*/false, nullptr);
  if (shared == nullptr) return 0;
  const uint64_t count = shared->deadHolders.load();
  Unmap(shared);
  return count;
}

}  // namespace ntemu
