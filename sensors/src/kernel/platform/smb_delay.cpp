#include "platform/port_io.h"

void SmbDelay(ULONG t) {
  if (t <= kSmbDelayBusyLimit) {
    const ULONG microseconds = t / 10;
    if (microseconds != 0) KeStallExecutionProcessor(microseconds);
    return;
  }
  LARGE_INTEGER interval;
  interval.QuadPart = -static_cast<LONGLONG>(t);  // negative: relative to now
  KeDelayExecutionThread(KernelMode, FALSE, &interval);
}
