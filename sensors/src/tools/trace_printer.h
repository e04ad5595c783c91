// --trace: one line on stderr for every port access and pause the driver
// makes, in the order it makes them. The format is stable:
//
//   trace in8 0x0400 0x42        byte read of port 0x0400, value 0x42
//   trace out8 0x0402 0x48       byte write
//   trace in16 0x1f0 0xbeef      word (16-bit) access
//   trace out32 0x0cf8 0x8000fb00   doubleword (32-bit) access
//   trace stall 10us             busy-wait
//   trace sleep 1000us           sleep (fractions of a microsecond as 50.1us)
//
// Ports are printed with 4 hex digits, values with the digits of their width.
#pragma once

#include <ostream>
#include <string>

#include "ntemu/trace.h"

namespace omzi2c::tool {

std::string TraceLine(const ntemu::PortAccess& access);
std::string TraceLine(const ntemu::Pause& pause);

class TracePrinter : public ntemu::TraceSink {
 public:
  explicit TracePrinter(std::ostream& out) : out_(out) {}
  void OnPortAccess(const ntemu::PortAccess& access) override;
  void OnPause(const ntemu::Pause& pause) override;

 private:
  std::ostream& out_;
};

}  // namespace omzi2c::tool
