// Expected hardware sequences written compactly, relative to a host's base:
//   r0=01   a byte read of base + 0 that answers 0x01
//   w2=42   a byte write of 0x42 to base + 2
//   p       a 10 us busy-wait
// A token or a parenthesised group followed by *N stands for N copies.
// Example: "(r0=01 p)*3 r0=00 w2=42".
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "ntemu/trace.h"

namespace omzi2c::testing {

// One port access or one pause.
struct Event {
  bool isPause;
  ntemu::PortAccess access;
  ntemu::Pause pause;
};
bool operator==(const Event& a, const Event& b);
std::ostream& operator<<(std::ostream& out, const Event& event);
using Events = std::vector<Event>;

Events ParseScript(uint16_t base, const std::string& text);
Events Recorded(const ntemu::Timeline& timeline);

}  // namespace omzi2c::testing
