#include "support/timeline.h"

#include <ostream>

namespace omzi2c::testing {

bool operator==(const Step& a, const Step& b) {
  if (a.isPause != b.isPause) return false;
  return a.isPause ? a.pause == b.pause : a.access == b.access;
}

std::ostream& operator<<(std::ostream& out, const Step& step) {
  if (step.isPause) return out << step.pause;
  return out << step.access;
}

Step At(const ntemu::PortAccess& access) {
  return {false, access, {}};
}

Step SleepFor(uint64_t length100ns) {
  return {true, {}, ntemu::Sleep100ns(length100ns)};
}

Steps operator+(Steps a, const Steps& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Steps Times(const Steps& steps, size_t times) {
  Steps all;
  all.reserve(steps.size() * times);
  for (size_t i = 0; i < times; ++i)
    all.insert(all.end(), steps.begin(), steps.end());
  return all;
}

void Timeline::Script(const Steps& steps) {
  for (const Step& step : steps) {
    if (!step.isPause && step.access.direction == ntemu::Direction::Read) {
      ports_.Queue(step.access.port, step.access.value);
    }
  }
}

uint32_t Timeline::Read(uint32_t port, ntemu::Width width) {
  const uint32_t value = ports_.Read(port, width);
  steps_.push_back(At({ntemu::Direction::Read, width, port, value}));
  return value;
}

void Timeline::Write(uint32_t port, ntemu::Width width, uint32_t value) {
  ports_.Write(port, width, value);
  steps_.push_back(At({ntemu::Direction::Write, width, port, value}));
}

void Timeline::BusyWait(uint32_t microseconds) {
  now_ += microseconds * 10ull;
  steps_.push_back({true, {}, ntemu::BusyWaitUs(microseconds)});
}

void Timeline::Sleep(uint64_t length100ns) {
  now_ += length100ns;
  steps_.push_back(SleepFor(length100ns));
}

}  // namespace omzi2c::testing
