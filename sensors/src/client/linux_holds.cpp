#include "omzi2c_client/linux_holds.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>

#include "ntemu/bus_lock_file.h"
#include "ntemu/event.h"

namespace omzi2c::client {

namespace {

constexpr long kNanosecondsPerSecond = 1000000000;

struct timespec DeadlineAfter(uint32_t milliseconds) {
  struct timespec at;
  clock_gettime(CLOCK_REALTIME, &at);
  at.tv_sec += milliseconds / 1000;
  at.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000;
  if (at.tv_nsec >= kNanosecondsPerSecond) {
    at.tv_sec += 1;
    at.tv_nsec -= kNanosecondsPerSecond;
  }
  return at;
}

// A robust mutex, in this process's memory or in the mapped lock file.
class RobustMutexHold : public SharedHold {
 public:
  explicit RobustMutexHold(pthread_mutex_t* mutex) : mutex_(mutex) {}

  HoldOutcome Take(uint32_t milliseconds) override {
    // A free hold is taken without looking at the clock.
    int result = pthread_mutex_trylock(mutex_);
    if (result == EBUSY && milliseconds != 0) {
      const struct timespec until = DeadlineAfter(milliseconds);
      result = pthread_mutex_timedlock(mutex_, &until);
    }
    if (result == EBUSY || result == ETIMEDOUT) return HoldOutcome::kTimedOut;
    if (result == EOWNERDEAD) {
      // Whatever the holder left half done, the host recovers from.
      pthread_mutex_consistent(mutex_);
      return HoldOutcome::kTakenAbandoned;
    }
    // ENOTRECOVERABLE cannot come: every taker of a dead holder's mutex makes
    // it consistent before it lets go.
    if (result != 0) std::abort();
    return HoldOutcome::kTaken;
  }

  void Release() override { pthread_mutex_unlock(mutex_); }

 private:
  pthread_mutex_t* mutex_;
};

class ProcessHold : public RobustMutexHold {
 public:
  ProcessHold() : RobustMutexHold(&mutex_) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&mutex_, &attributes);
    pthread_mutexattr_destroy(&attributes);
  }
  ~ProcessHold() override { pthread_mutex_destroy(&mutex_); }

 private:
  pthread_mutex_t mutex_;
};

// The lock file is mapped the way a named event's shared part is, with the
// same checks of its folder and of the file; only its mutex is used here.
class FileHold : public RobustMutexHold {
 public:
  explicit FileHold(KEVENT* mapped)
      : RobustMutexHold(&mapped->systemLock->mutex), mapped_(mapped) {}

 private:
  std::unique_ptr<KEVENT> mapped_;  // unmaps the file when it goes
};

}  // namespace

std::unique_ptr<SharedHold> MakeProcessHold() {
  return std::make_unique<ProcessHold>();
}

std::unique_ptr<SharedHold> MakeFileHold(std::string* error) {
  auto mapped = std::make_unique<KEVENT>();
  if (!ntemu::AttachSystemWideLock(*mapped, kSequenceLockName, error)) return nullptr;
  return std::make_unique<FileHold>(mapped.release());
}

}  // namespace omzi2c::client
