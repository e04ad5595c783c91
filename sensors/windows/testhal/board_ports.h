// The simulated board's port space as the test HAL serves it: every access
// the driver makes, through a HAL routine (x86) or a trapped instruction
// (x64), goes through these two.
#pragma once

#include <cstdint>

#include "ntemu/port_space.h"

namespace testhal {

uint32_t BoardPortRead(uint32_t port, ntemu::Width width);
void BoardPortWrite(uint32_t port, ntemu::Width width, uint32_t value);

// x64 only: makes every in/out instruction executed in this process a port
// access on the board (port_trap.cpp).
void InstallPortInstructionTrap();

}  // namespace testhal
