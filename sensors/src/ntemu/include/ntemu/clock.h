// The clock behind KeStallExecutionProcessor and KeDelayExecutionThread.
//
// A VirtualClock (the default) never waits: it records each pause and moves
// virtual time on, so a 0.8 s pause or a long poll costs nothing in a test.
// A RealClock really waits, for use on real hardware.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <vector>

namespace ntemu {

enum class PauseKind : uint8_t { BusyWait, Sleep };

struct Pause {
  PauseKind kind;
  uint64_t length;  // in 100-ns units
};
bool operator==(const Pause& a, const Pause& b);
std::ostream& operator<<(std::ostream& out, const Pause& pause);

inline Pause BusyWaitUs(uint64_t microseconds) {
  return {PauseKind::BusyWait, microseconds * 10};
}
inline Pause Sleep100ns(uint64_t length) {
  return {PauseKind::Sleep, length};
}

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void BusyWait(uint32_t microseconds) = 0;
  virtual void Sleep(uint64_t length100ns) = 0;
  virtual uint64_t Now() = 0;  // 100-ns units since an arbitrary origin
};

class VirtualClock : public Clock {
 public:
  // A clock that only keeps time (for long-running sessions) records nothing.
  explicit VirtualClock(bool recordPauses = true) : recordPauses_(recordPauses) {}
  void BusyWait(uint32_t microseconds) override;
  void Sleep(uint64_t length100ns) override;
  uint64_t Now() override;
  void Advance(uint64_t length100ns);

  std::vector<Pause> Pauses() const;
  void ClearPauses();

 private:
  mutable std::mutex mutex_;
  const bool recordPauses_;
  uint64_t now_ = 0;
  std::vector<Pause> pauses_;
};

class RealClock : public Clock {
 public:
  void BusyWait(uint32_t microseconds) override;
  void Sleep(uint64_t length100ns) override;
  uint64_t Now() override;
};

void InstallClock(Clock* clock);  // nullptr: back to the process's virtual clock
Clock& CurrentClock();
VirtualClock& DefaultVirtualClock();

class ScopedClock {
 public:
  explicit ScopedClock(Clock* clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace ntemu
