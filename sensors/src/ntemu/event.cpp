#include "ntemu/event.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

_KEVENT::~_KEVENT() {
  if (systemLock >= 0) close(systemLock);
}

namespace ntemu {

void InitializeSynchronizationEvent(KEVENT& event, bool signalled) {
  std::lock_guard<std::mutex> lock(event.mutex);
  event.signalled = signalled;
  event.autoReset = true;
  event.waits = 0;
  event.sets = 0;
}

bool IsSignalled(KEVENT& event) {
  std::lock_guard<std::mutex> lock(event.mutex);
  return event.signalled;
}

std::string SystemWideLockPath(const std::string& name) {
  std::string file;
  for (char c : name) {
    if (c == '\\' || c == '/') {
      if (!file.empty()) file += '_';
      continue;
    }
    file += c;
  }
  struct stat info;
  const char* folder =
      stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode) ? "/run/lock" : "/tmp";
  return std::string(folder) + "/omzi2c-" + file + ".lock";
}

bool AttachSystemWideLock(KEVENT& event, const std::string& name, std::string* error) {
  const std::string path = SystemWideLockPath(name);
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = "cannot open the bus lock " + path + ": " + std::strerror(errno);
    return false;
  }
  std::lock_guard<std::mutex> lock(event.mutex);
  if (event.systemLock >= 0) close(event.systemLock);
  event.systemLock = fd;
  return true;
}

void DetachSystemWideLock(KEVENT& event) {
  std::lock_guard<std::mutex> lock(event.mutex);
  if (event.systemLock >= 0) close(event.systemLock);
  event.systemLock = -1;
}

}  // namespace ntemu

namespace {

void LockFile(int fd) {
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

}  // namespace

extern "C" {

// Within the process the event is taken first; across processes the lock
// file is then taken too, outside the event's mutex so that setters are not
// held up.
NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               PLARGE_INTEGER) {
  KEVENT& event = *static_cast<KEVENT*>(Object);
  int systemLock;
  {
    std::unique_lock<std::mutex> lock(event.mutex);
    event.changed.wait(lock, [&event] { return event.signalled; });
    if (event.autoReset) event.signalled = false;
    ++event.waits;
    systemLock = event.systemLock;
  }
  if (systemLock >= 0) LockFile(systemLock);
  return STATUS_SUCCESS;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN) {
  LONG previous;
  {
    std::lock_guard<std::mutex> lock(Event->mutex);
    previous = Event->signalled ? 1 : 0;
    if (!Event->signalled && Event->systemLock >= 0) flock(Event->systemLock, LOCK_UN);
    Event->signalled = true;
    ++Event->sets;
  }
  Event->changed.notify_one();
  return previous;
}

}  // extern "C"
