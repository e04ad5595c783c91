// x64: the driver's port accesses are inline in/out instructions, which a
// user-mode driver host cannot execute: each raises a privileged-instruction
// exception. A vectored handler, installed when the test HAL loads, decodes
// the instruction, performs it on the simulated board and resumes after it,
// so the image under test is the image that ships.
#include <windows.h>

#include "board_ports.h"
#include "port_instruction.h"

namespace testhal {
namespace {

LONG CALLBACK EmulatePortInstruction(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode != STATUS_PRIVILEGED_INSTRUCTION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  CONTEXT* context = exception->ContextRecord;
  PortInstruction instruction;
  if (!DecodePortInstruction(reinterpret_cast<const uint8_t*>(context->Rip), &instruction)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const uint32_t port =
      instruction.portInDx ? static_cast<uint16_t>(context->Rdx) : instruction.immediate;
  if (instruction.direction == ntemu::Direction::Read) {
    const uint32_t value = BoardPortRead(port, instruction.width);
    context->Rax = AccumulatorAfterRead(context->Rax, instruction.width, value);
  } else {
    BoardPortWrite(port, instruction.width, ValueWritten(context->Rax, instruction.width));
  }
  context->Rip += instruction.length;
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void InstallPortInstructionTrap() {
  // First in line: nothing else in the host knows these instructions.
  AddVectoredExceptionHandler(1, EmulatePortInstruction);
}

}  // namespace testhal
