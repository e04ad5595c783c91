#include "support/port_sequence.h"

#include <ostream>

namespace omzi2c::testing {

namespace {

template <typename T>
std::vector<T> Concatenate(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

template <typename T>
std::vector<T> RepeatSteps(const std::vector<T>& steps, size_t times) {
  std::vector<T> all;
  all.reserve(steps.size() * times);
  for (size_t i = 0; i < times; ++i)
    all.insert(all.end(), steps.begin(), steps.end());
  return all;
}

}  // namespace

Sequence operator+(Sequence a, const Sequence& b) {
  return Concatenate(std::move(a), b);
}

Sequence Repeat(const Sequence& steps, size_t times) {
  return RepeatSteps(steps, times);
}

bool operator==(const Event& a, const Event& b) {
  if (a.isPause != b.isPause) return false;
  return a.isPause ? a.pause == b.pause : a.access == b.access;
}

std::ostream& operator<<(std::ostream& out, const Event& event) {
  if (event.isPause) return out << event.pause;
  return out << event.access;
}

Events operator+(Events a, const Events& b) {
  return Concatenate(std::move(a), b);
}

Events Repeat(const Events& steps, size_t times) {
  return RepeatSteps(steps, times);
}

Events AsEvents(const Sequence& accesses) {
  Events events;
  for (const ntemu::PortAccess& access : accesses)
    events.push_back({false, access, {}});
  return events;
}

Event Stall10us() {
  return {true, {}, ntemu::BusyWaitUs(10)};
}

Events Recorded(const ntemu::Timeline& timeline) {
  Events events;
  for (const ntemu::Timeline::Entry& entry : timeline.Entries())
    events.push_back({entry.isPause, entry.access, entry.pause});
  return events;
}

}  // namespace omzi2c::testing
