// Little-endian loads and stores on byte buffers (request records have no
// alignment guarantee).
#pragma once

#include "platform/nt.h"

inline ULONG LoadLe32(const UCHAR* bytes) {
  return static_cast<ULONG>(bytes[0]) | (static_cast<ULONG>(bytes[1]) << 8) |
         (static_cast<ULONG>(bytes[2]) << 16) | (static_cast<ULONG>(bytes[3]) << 24);
}

inline void StoreLe16(UCHAR* bytes, USHORT value) {
  bytes[0] = static_cast<UCHAR>(value & 0xFF);
  bytes[1] = static_cast<UCHAR>(value >> 8);
}

inline void StoreLe32(UCHAR* bytes, ULONG value) {
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<UCHAR>(value >> (8 * i));
}
