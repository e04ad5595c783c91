// HAL and kernel timing routines of the stand-in: port operations go to the
// installed port space (straight to real ports when nothing is traced),
// pauses to the installed clock; both are reported to the trace sink, if one
// is installed.
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

void ReportPause(const ntemu::Pause& pause) {
  if (ntemu::TraceSink* sink = ntemu::CurrentTraceSink()) sink->OnPause(pause);
}

// The space and sink the routines were chosen for.
ntemu::PortSpace* chosenSpace = nullptr;
ntemu::TraceSink* chosenSink = nullptr;

// Through the installed space, nothing traced.
uint8_t In8(uint32_t port) {
  return static_cast<uint8_t>(chosenSpace->Read(port, Width::Byte));
}
uint16_t In16(uint32_t port) {
  return static_cast<uint16_t>(chosenSpace->Read(port, Width::Word));
}
uint32_t In32(uint32_t port) {
  return chosenSpace->Read(port, Width::Dword);
}
void Out8(uint32_t port, uint8_t value) {
  chosenSpace->Write(port, Width::Byte, value);
}
void Out16(uint32_t port, uint16_t value) {
  chosenSpace->Write(port, Width::Word, value);
}
void Out32(uint32_t port, uint32_t value) {
  chosenSpace->Write(port, Width::Dword, value);
}
constexpr ntemu::PortRoutines kThroughSpace{In8, In16, In32, Out8, Out16, Out32};

// Through the installed space, each access reported to the trace sink.
uint32_t TracedRead(uint32_t port, Width width) {
  const uint32_t value = chosenSpace->Read(port, width) & ntemu::OpenBus(width);
  chosenSink->OnPortAccess({Direction::Read, width, port, value});
  return value;
}
void TracedWrite(uint32_t port, Width width, uint32_t value) {
  chosenSpace->Write(port, width, value);
  chosenSink->OnPortAccess({Direction::Write, width, port, value});
}
uint8_t TracedIn8(uint32_t port) {
  return static_cast<uint8_t>(TracedRead(port, Width::Byte));
}
uint16_t TracedIn16(uint32_t port) {
  return static_cast<uint16_t>(TracedRead(port, Width::Word));
}
uint32_t TracedIn32(uint32_t port) {
  return TracedRead(port, Width::Dword);
}
void TracedOut8(uint32_t port, uint8_t value) {
  TracedWrite(port, Width::Byte, value);
}
void TracedOut16(uint32_t port, uint16_t value) {
  TracedWrite(port, Width::Word, value);
}
void TracedOut32(uint32_t port, uint32_t value) {
  TracedWrite(port, Width::Dword, value);
}
constexpr ntemu::PortRoutines kTraced{TracedIn8,  TracedIn16,  TracedIn32,
                                      TracedOut8, TracedOut16, TracedOut32};

// Before any space was installed: choose first, then go on.
extern ntemu::PortRoutines routines;
uint8_t FirstIn8(uint32_t port) {
  ntemu::ChoosePortRoutines();
  return routines.in8(port);
}
uint16_t FirstIn16(uint32_t port) {
  ntemu::ChoosePortRoutines();
  return routines.in16(port);
}
uint32_t FirstIn32(uint32_t port) {
  ntemu::ChoosePortRoutines();
  return routines.in32(port);
}
void FirstOut8(uint32_t port, uint8_t value) {
  ntemu::ChoosePortRoutines();
  routines.out8(port, value);
}
void FirstOut16(uint32_t port, uint16_t value) {
  ntemu::ChoosePortRoutines();
  routines.out16(port, value);
}
void FirstOut32(uint32_t port, uint32_t value) {
  ntemu::ChoosePortRoutines();
  routines.out32(port, value);
}

ntemu::PortRoutines routines{FirstIn8, FirstIn16, FirstIn32, FirstOut8, FirstOut16, FirstOut32};

// Chosen with the routines: real ports, nothing traced. The access is then
// the instruction itself, behind one branch that always goes the same way
// in a session (cheaper than any call, virtual or not).
#if defined(__x86_64__) || defined(__i386__)
bool inlinePorts = false;
#else
constexpr bool inlinePorts = false;
#endif

#if defined(__x86_64__) || defined(__i386__)
inline uint8_t InlineIn8(uint32_t port) {
  uint8_t value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(static_cast<uint16_t>(port)));
  return value;
}
inline uint16_t InlineIn16(uint32_t port) {
  uint16_t value;
  __asm__ __volatile__("inw %w1, %w0" : "=a"(value) : "Nd"(static_cast<uint16_t>(port)));
  return value;
}
inline uint32_t InlineIn32(uint32_t port) {
  uint32_t value;
  __asm__ __volatile__("inl %w1, %0" : "=a"(value) : "Nd"(static_cast<uint16_t>(port)));
  return value;
}
inline void InlineOut8(uint32_t port, uint8_t value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(static_cast<uint16_t>(port)));
}
inline void InlineOut16(uint32_t port, uint16_t value) {
  __asm__ __volatile__("outw %w0, %w1" : : "a"(value), "Nd"(static_cast<uint16_t>(port)));
}
inline void InlineOut32(uint32_t port, uint32_t value) {
  __asm__ __volatile__("outl %0, %w1" : : "a"(value), "Nd"(static_cast<uint16_t>(port)));
}
#else
inline uint8_t InlineIn8(uint32_t) {
  return 0xFF;
}
inline uint16_t InlineIn16(uint32_t) {
  return 0xFFFF;
}
inline uint32_t InlineIn32(uint32_t) {
  return 0xFFFFFFFF;
}
inline void InlineOut8(uint32_t, uint8_t) {}
inline void InlineOut16(uint32_t, uint16_t) {}
inline void InlineOut32(uint32_t, uint32_t) {}
#endif

}  // namespace

void ntemu::ChoosePortRoutines() {
  chosenSpace = &CurrentPortSpace();
  chosenSink = CurrentTraceSink();
  const PortRoutines* direct = chosenSpace->Direct();
  if (chosenSink != nullptr) {
    routines = kTraced;
  } else {
    routines = direct != nullptr ? *direct : kThroughSpace;
  }
#if defined(__x86_64__) || defined(__i386__)
  inlinePorts = chosenSink == nullptr && direct != nullptr && direct->processorInstructions;
#endif
}

extern "C" {

UCHAR READ_PORT_UCHAR(PUCHAR Port) {
  if (__builtin_expect(inlinePorts, 1)) return InlineIn8(PortNumber(Port));
  return routines.in8(PortNumber(Port));
}
USHORT READ_PORT_USHORT(PUSHORT Port) {
  if (__builtin_expect(inlinePorts, 1)) return InlineIn16(PortNumber(Port));
  return routines.in16(PortNumber(Port));
}
ULONG READ_PORT_ULONG(PULONG Port) {
  if (__builtin_expect(inlinePorts, 1)) return InlineIn32(PortNumber(Port));
  return routines.in32(PortNumber(Port));
}
VOID WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value) {
  if (__builtin_expect(inlinePorts, 1)) return InlineOut8(PortNumber(Port), Value);
  routines.out8(PortNumber(Port), Value);
}
VOID WRITE_PORT_USHORT(PUSHORT Port, USHORT Value) {
  if (__builtin_expect(inlinePorts, 1)) return InlineOut16(PortNumber(Port), Value);
  routines.out16(PortNumber(Port), Value);
}
VOID WRITE_PORT_ULONG(PULONG Port, ULONG Value) {
  if (__builtin_expect(inlinePorts, 1)) return InlineOut32(PortNumber(Port), Value);
  routines.out32(PortNumber(Port), Value);
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
