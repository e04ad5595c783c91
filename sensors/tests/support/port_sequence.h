// Expected hardware sequences for back-end tests: port accesses, and port
// accesses with the pauses between them, in the order the driver makes them.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <vector>

#include "ntemu/clock.h"
#include "ntemu/port_space.h"
#include "ntemu/trace.h"

namespace omzi2c::testing {

using Sequence = std::vector<ntemu::PortAccess>;

Sequence operator+(Sequence a, const Sequence& b);
// `steps`, `times` over.
Sequence Repeat(const Sequence& steps, size_t times);

// One port access or one pause.
struct Event {
  bool isPause;
  ntemu::PortAccess access;
  ntemu::Pause pause;
};
bool operator==(const Event& a, const Event& b);
std::ostream& operator<<(std::ostream& out, const Event& event);

using Events = std::vector<Event>;

Events operator+(Events a, const Events& b);
Events Repeat(const Events& steps, size_t times);
Events AsEvents(const Sequence& accesses);
Event Stall10us();
Events Recorded(const ntemu::Timeline& timeline);

}  // namespace omzi2c::testing
