// Port and timing services of the driver.
//
// Every controller access is one I/O port access through the HAL; these
// helpers only turn a port number into the pointer-typed argument the HAL
// routines take. Each call reaches the device exactly once, in program order.
#pragma once

#include "platform/nt.h"

inline UCHAR PortReadByte(ULONG port) {
  return READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(port)));
}
inline USHORT PortReadWord(ULONG port) {
  return READ_PORT_USHORT(reinterpret_cast<PUSHORT>(static_cast<ULONG_PTR>(port)));
}
inline ULONG PortReadDword(ULONG port) {
  return READ_PORT_ULONG(reinterpret_cast<PULONG>(static_cast<ULONG_PTR>(port)));
}
inline void PortWriteByte(ULONG port, UCHAR value) {
  WRITE_PORT_UCHAR(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(port)), value);
}
inline void PortWriteWord(ULONG port, USHORT value) {
  WRITE_PORT_USHORT(reinterpret_cast<PUSHORT>(static_cast<ULONG_PTR>(port)), value);
}
inline void PortWriteDword(ULONG port, ULONG value) {
  WRITE_PORT_ULONG(reinterpret_cast<PULONG>(static_cast<ULONG_PTR>(port)), value);
}

// Pauses, in 100-ns units.
constexpr ULONG kDelay10us = 100;
constexpr ULONG kDelay100us = 1000;
constexpr ULONG kDelay250us = 2500;
constexpr ULONG kDelay400us = 4000;
constexpr ULONG kDelayHalfMs = 5000;
constexpr ULONG kDelay1ms = 10000;
constexpr ULONG kDelay800ms = 8000000;

// Longest pause that is still a busy-wait; anything longer sleeps.
constexpr ULONG kSmbDelayBusyLimit = 500;

// Pause for t x 100 ns: busy-wait t/10 us up to the limit, sleep above it.
void SmbDelay(ULONG t);
