// HAL and kernel timing routines of the stand-in: port operations go to the
// installed port space, pauses to the installed clock; both are reported to
// the trace sink, if one is installed.
#include "ntemu/clock.h"
#include "ntemu/nt.h"
#include "ntemu/port_space.h"
#include "ntemu/trace.h"

namespace {

using ntemu::Direction;
using ntemu::Width;

uint32_t PortNumber(const void* port) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(port));
}

uint32_t ReadPort(const void* port, Width width) {
  const uint32_t number = PortNumber(port);
  const uint32_t value = ntemu::CurrentPortSpace().Read(number, width) & ntemu::OpenBus(width);
  if (ntemu::TraceSink* sink = ntemu::CurrentTraceSink()) {
    sink->OnPortAccess({Direction::Read, width, number, value});
  }
  return value;
}

void WritePort(const void* port, Width width, uint32_t value) {
  const uint32_t number = PortNumber(port);
  ntemu::CurrentPortSpace().Write(number, width, value);
  if (ntemu::TraceSink* sink = ntemu::CurrentTraceSink()) {
    sink->OnPortAccess({Direction::Write, width, number, value});
  }
}

void ReportPause(const ntemu::Pause& pause) {
  if (ntemu::TraceSink* sink = ntemu::CurrentTraceSink()) sink->OnPause(pause);
}

}  // namespace

extern "C" {

UCHAR READ_PORT_UCHAR(PUCHAR Port) {
  return static_cast<UCHAR>(ReadPort(Port, Width::Byte));
}
USHORT READ_PORT_USHORT(PUSHORT Port) {
  return static_cast<USHORT>(ReadPort(Port, Width::Word));
}
ULONG READ_PORT_ULONG(PULONG Port) {
  return ReadPort(Port, Width::Dword);
}
VOID WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value) {
  WritePort(Port, Width::Byte, Value);
}
VOID WRITE_PORT_USHORT(PUSHORT Port, USHORT Value) {
  WritePort(Port, Width::Word, Value);
}
VOID WRITE_PORT_ULONG(PULONG Port, ULONG Value) {
  WritePort(Port, Width::Dword, Value);
}

VOID KeStallExecutionProcessor(ULONG MicroSeconds) {
  ntemu::CurrentClock().BusyWait(MicroSeconds);
  ReportPause(ntemu::BusyWaitUs(MicroSeconds));
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Interval) {
  ntemu::Clock& clock = ntemu::CurrentClock();
  uint64_t length = 0;
  if (Interval->QuadPart < 0) {
    length = static_cast<uint64_t>(-Interval->QuadPart);  // relative
  } else {
    const uint64_t now = clock.Now();
    const uint64_t until = static_cast<uint64_t>(Interval->QuadPart);  // absolute
    length = until > now ? until - now : 0;
  }
  clock.Sleep(length);
  ReportPause(ntemu::Sleep100ns(length));
  return STATUS_SUCCESS;
}

}  // extern "C"
