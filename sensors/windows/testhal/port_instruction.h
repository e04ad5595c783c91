// The x86 port I/O instructions (in and out), decoded from their bytes, so
// that a privileged-instruction trap raised by one can be carried out on the
// simulated board and stepped over. This is how the Wine test serves the x64
// driver image, whose port routines are inline instructions rather than calls
// into the HAL.
#pragma once

#include <cstdint>

#include "ntemu/port_space.h"

namespace testhal {

// Operand-size prefix plus opcode plus immediate port number.
constexpr unsigned kLongestPortInstruction = 3;

struct PortInstruction {
  ntemu::Direction direction;
  ntemu::Width width;
  bool portInDx;      // else the port is the immediate byte
  uint8_t immediate;  // the port number of the immediate forms
  uint8_t length;     // bytes to step over
};

// Decodes the instruction starting at `code`, reading only as many bytes as
// the instruction has (at most kLongestPortInstruction). False when it is not
// a port instruction.
bool DecodePortInstruction(const uint8_t* code, PortInstruction* instruction);

// The accumulator after a read of `width` that returned `value`: a byte or
// word read replaces only the low bits, a doubleword read clears the upper
// half as every 32-bit result does in 64-bit mode.
uint64_t AccumulatorAfterRead(uint64_t accumulator, ntemu::Width width, uint32_t value);

// The value an out instruction of `width` writes from the accumulator.
uint32_t ValueWritten(uint64_t accumulator, ntemu::Width width);

}  // namespace testhal
