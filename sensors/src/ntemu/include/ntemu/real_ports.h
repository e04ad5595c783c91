// Real x86 I/O ports from user space (Linux): the process must raise its I/O
// privilege level first, which needs root (CAP_SYS_RAWIO).
#pragma once

#include <string>

#include "ntemu/port_space.h"

namespace ntemu {

class RealPortSpace : public PortSpace {
 public:
  // Raises the I/O privilege level; false with the reason if not allowed.
  static bool Acquire(std::string* error);
  // Why raising the level failed with `errorNumber` (errno of iopl) for a
  // process that is or is not root: not root, or a kernel that refuses port
  // access even to root (a container without CAP_SYS_RAWIO, a locked-down
  // kernel, a kernel or virtual machine without iopl).
  static std::string RefusalReason(int errorNumber, bool root);
  uint32_t Read(uint32_t port, Width width) override;
  void Write(uint32_t port, Width width, uint32_t value) override;
  // inb/outb and their wider kin, called by the HAL with nothing in between.
  const PortRoutines* Direct() const override;
};

}  // namespace ntemu
