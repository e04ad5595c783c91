// Status polls with no pause between reads, for the hosts whose completion
// waits read one status register back to back: one read, then at most
// kStatusPollBudget re-reads. The budget is a number of port reads, not a
// time.
#pragma once

#include "platform/port_io.h"

constexpr ULONG kStatusPollBudget = 10000;

// Reads the status at `port` until one of `mask` is set; false when the
// budget ran out. `value` holds the last value read either way.
inline bool PollStatusUntilAnySet(ULONG port, UCHAR mask, UCHAR* value) {
  *value = PortReadByte(port);
  for (ULONG polls = 0; (*value & mask) == 0; ++polls) {
    if (polls == kStatusPollBudget) return false;
    *value = PortReadByte(port);
  }
  return true;
}

// As PollStatusUntilAnySet, until every flag of `mask` is clear.
inline bool PollStatusUntilClear(ULONG port, UCHAR mask, UCHAR* value) {
  *value = PortReadByte(port);
  for (ULONG polls = 0; (*value & mask) != 0; ++polls) {
    if (polls == kStatusPollBudget) return false;
    *value = PortReadByte(port);
  }
  return true;
}
