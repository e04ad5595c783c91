// Register access shared by the back-ends whose registers are byte-wide I/O
// ports at SmbBase + offset: one port access per call, and the counted
// status polls with no pause between reads that several hosts wait with.
#pragma once

#include "controller_state.h"
#include "hosts/host_contract.h"
#include "platform/port_io.h"

namespace HostRegisters {

constexpr UCHAR kReadBit = 0x01;  // bit 0 of the address byte
// Re-reads a poll makes after its first read. A number of port reads, not
// a time.
constexpr ULONG kPollBudget = 10000;

inline UCHAR ReadRegister(UCHAR offset) {
  return PortReadByte(Controller.SmbBase + offset);
}

inline void WriteRegister(UCHAR offset, UCHAR value) {
  PortWriteByte(Controller.SmbBase + offset, value);
}

inline UCHAR ReadAddress(UCHAR address) {
  return static_cast<UCHAR>(address | kReadBit);
}

inline UCHAR WriteAddress(UCHAR address) {
  return static_cast<UCHAR>(address & ~kReadBit);
}

// Reads the register until one of `mask` is set: one read plus at most
// kPollBudget re-reads. False when the budget ran out; `value` holds the
// last read either way.
inline bool PollUntilAnySet(UCHAR offset, UCHAR mask, UCHAR* value) {
  *value = ReadRegister(offset);
  for (ULONG polls = 0; (*value & mask) == 0; ++polls) {
    if (polls == kPollBudget) return false;
    *value = ReadRegister(offset);
  }
  return true;
}

// As PollUntilAnySet, until every flag of `mask` is clear.
inline bool PollUntilClear(UCHAR offset, UCHAR mask, UCHAR* value) {
  *value = ReadRegister(offset);
  for (ULONG polls = 0; (*value & mask) != 0; ++polls) {
    if (polls == kPollBudget) return false;
    *value = ReadRegister(offset);
  }
  return true;
}

}  // namespace HostRegisters
