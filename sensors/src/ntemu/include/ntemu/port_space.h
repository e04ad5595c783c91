// Port spaces behind the stand-in's HAL port routines.
//
// The driver's READ_PORT_* / WRITE_PORT_* calls land on the installed
// PortSpace: the simulated board, real ports, or a RecordingPortSpace that
// logs every access and answers reads from a script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <map>
#include <vector>

namespace ntemu {

enum class Width : uint8_t { Byte = 1, Word = 2, Dword = 4 };
enum class Direction : uint8_t { Read, Write };

// The value a read of an unclaimed port returns (all bits set, as an open bus).
uint32_t OpenBus(Width width);

struct PortAccess {
  Direction direction;
  Width width;
  uint32_t port;
  uint32_t value;
};
bool operator==(const PortAccess& a, const PortAccess& b);
inline bool operator!=(const PortAccess& a, const PortAccess& b) {
  return !(a == b);
}
std::ostream& operator<<(std::ostream& out, const PortAccess& access);

// Shorthands for expected sequences.
inline PortAccess In8(uint32_t port, uint32_t value) {
  return {Direction::Read, Width::Byte, port, value};
}
inline PortAccess Out8(uint32_t port, uint32_t value) {
  return {Direction::Write, Width::Byte, port, value};
}
inline PortAccess In16(uint32_t port, uint32_t value) {
  return {Direction::Read, Width::Word, port, value};
}
inline PortAccess Out16(uint32_t port, uint32_t value) {
  return {Direction::Write, Width::Word, port, value};
}
inline PortAccess In32(uint32_t port, uint32_t value) {
  return {Direction::Read, Width::Dword, port, value};
}
inline PortAccess Out32(uint32_t port, uint32_t value) {
  return {Direction::Write, Width::Dword, port, value};
}

// Port routines the HAL may call straight, one per width and direction.
struct PortRoutines {
  uint8_t (*in8)(uint32_t port);
  uint16_t (*in16)(uint32_t port);
  uint32_t (*in32)(uint32_t port);
  void (*out8)(uint32_t port, uint8_t value);
  void (*out16)(uint32_t port, uint16_t value);
  void (*out32)(uint32_t port, uint32_t value);
  // The routines are the processor's own in and out instructions, which the
  // HAL may then issue inline instead of calling them.
  bool processorInstructions = false;
};

class PortSpace {
 public:
  virtual ~PortSpace() = default;
  virtual uint32_t Read(uint32_t port, Width width) = 0;
  virtual void Write(uint32_t port, Width width, uint32_t value) = 0;
  // Routines that reach this space with no virtual call in between (real
  // ports), or null. The HAL calls them when nothing is traced.
  virtual const PortRoutines* Direct() const { return nullptr; }
};

// Logs every access in order and answers reads from a per-port script:
// queued values first, each used once, then the port's default, then the
// inner space (if any), then the open-bus value. Writes reach the inner space.
class RecordingPortSpace : public PortSpace {
 public:
  explicit RecordingPortSpace(PortSpace* inner = nullptr) : inner_(inner) {}

  void Queue(uint32_t port, uint32_t value, size_t times = 1);
  void SetDefault(uint32_t port, uint32_t value);

  uint32_t Read(uint32_t port, Width width) override;
  void Write(uint32_t port, Width width, uint32_t value) override;

  const std::vector<PortAccess>& Accesses() const { return accesses_; }
  std::vector<PortAccess> Writes() const;
  size_t CountReads(uint32_t port) const;
  void ClearLog() { accesses_.clear(); }

 private:
  struct Scripted {
    uint32_t value;
    size_t remaining;
  };
  PortSpace* inner_;
  std::map<uint32_t, std::deque<Scripted>> queued_;
  std::map<uint32_t, uint32_t> defaults_;
  std::vector<PortAccess> accesses_;
};

// Every read answers the open-bus value; writes vanish. Installed when nothing
// else is.
class OpenBusPortSpace : public PortSpace {
 public:
  uint32_t Read(uint32_t, Width width) override { return OpenBus(width); }
  void Write(uint32_t, Width, uint32_t) override {}
};

void InstallPortSpace(PortSpace* space);  // nullptr: back to the open bus
PortSpace& CurrentPortSpace();

// The HAL's port routines are chosen whenever the port space or the trace
// sink changes (once per session), not tested at every access: the space's
// direct routines when it has them and nothing is traced, else routines that
// go through the installed space and report to the trace sink.
void ChoosePortRoutines();

class ScopedPortSpace {
 public:
  explicit ScopedPortSpace(PortSpace* space);
  ~ScopedPortSpace();
  ScopedPortSpace(const ScopedPortSpace&) = delete;
  ScopedPortSpace& operator=(const ScopedPortSpace&) = delete;

 private:
  PortSpace* previous_;
};

}  // namespace ntemu
