// --trace: one line on stderr for every port access and pause the driver
// makes, in the order it makes them. The format is stable:
//
//   trace in8 0x0400 0x42        byte read of port 0x0400, value 0x42
//   trace out8 0x0402 0x48       byte write
//   trace in16 0x1f0 0xbeef      word (16-bit) access
//   trace out32 0x0cf8 0x8000fb00   doubleword (32-bit) access
//   trace stall 10us             busy-wait
//   trace sleep 1000us           sleep (fractions of a microsecond as 50.1us)
//   trace done 0xc0000185 2 10 5c 00 00 04 cd cd cd 00 00 00 00
//                                a request completed: its status, the length
//                                the driver reported as transferred (decimal),
//                                then every byte of the system buffer as the
//                                driver left it (two hex digits each; none
//                                for a request without buffers)
//
// Ports are printed with 4 hex digits, values with the digits of their width.
// A failed request copies nothing back to its caller; its done line still
// shows what the driver wrote, such as the two-byte error reply (result code,
// host status) at the start of the buffer.
#pragma once

#include <ostream>
#include <string>

#include "ntemu/io_manager.h"
#include "ntemu/trace.h"

namespace omzi2c::tool {

std::string TraceLine(const ntemu::PortAccess& access);
std::string TraceLine(const ntemu::Pause& pause);
std::string TraceLine(const ntemu::IoResult& completion);

class TracePrinter : public ntemu::TraceSink {
 public:
  explicit TracePrinter(std::ostream& out) : out_(out) {}
  void OnPortAccess(const ntemu::PortAccess& access) override;
  void OnPause(const ntemu::Pause& pause) override;
  // Not a hardware event: the tool reports each request's completion here.
  void OnCompletion(const ntemu::IoResult& completion);

 private:
  std::ostream& out_;
};

}  // namespace omzi2c::tool
