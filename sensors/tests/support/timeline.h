// Port accesses and pauses on one time line, for back-ends whose pauses sit
// between register accesses: where a pause falls is as much behaviour as the
// accesses around it.
//
// A Timeline is both the port space and the clock the driver sees. Reads are
// answered from the expected time line itself: every read in it queues its
// value for its port, in order, so a test states each step once, and a read
// the test did not expect answers the open bus and shows as a difference.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "ntemu/clock.h"
#include "ntemu/port_space.h"

namespace omzi2c::testing {

struct Step {
  bool isPause;
  ntemu::PortAccess access;  // when !isPause
  ntemu::Pause pause;        // when isPause
};
bool operator==(const Step& a, const Step& b);
std::ostream& operator<<(std::ostream& out, const Step& step);

using Steps = std::vector<Step>;

Step At(const ntemu::PortAccess& access);
Step SleepFor(uint64_t length100ns);
Steps operator+(Steps a, const Steps& b);
Steps Times(const Steps& steps, size_t times);

class Timeline : public ntemu::PortSpace, public ntemu::Clock {
 public:
  // Queues the values of every read in `steps`.
  void Script(const Steps& steps);
  void SetDefault(uint32_t port, uint32_t value) { ports_.SetDefault(port, value); }
  const Steps& Recorded() const { return steps_; }
  void Clear() { steps_.clear(); }

  uint32_t Read(uint32_t port, ntemu::Width width) override;
  void Write(uint32_t port, ntemu::Width width, uint32_t value) override;
  void BusyWait(uint32_t microseconds) override;
  void Sleep(uint64_t length100ns) override;
  uint64_t Now() override { return now_; }

 private:
  ntemu::RecordingPortSpace ports_;
  Steps steps_;
  uint64_t now_ = 0;
};

}  // namespace omzi2c::testing
