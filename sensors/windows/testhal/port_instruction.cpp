#include "port_instruction.h"

namespace testhal {
namespace {

constexpr uint8_t kOperandSizePrefix = 0x66;

struct Opcode {
  uint8_t code;
  ntemu::Direction direction;
  bool byteWide;  // else word with the prefix, doubleword without
  bool portInDx;
};

constexpr Opcode kOpcodes[] = {
    {0xE4, ntemu::Direction::Read, true, false},    // in al, imm8
    {0xE5, ntemu::Direction::Read, false, false},   // in (e)ax, imm8
    {0xE6, ntemu::Direction::Write, true, false},   // out imm8, al
    {0xE7, ntemu::Direction::Write, false, false},  // out imm8, (e)ax
    {0xEC, ntemu::Direction::Read, true, true},     // in al, dx
    {0xED, ntemu::Direction::Read, false, true},    // in (e)ax, dx
    {0xEE, ntemu::Direction::Write, true, true},    // out dx, al
    {0xEF, ntemu::Direction::Write, false, true},   // out dx, (e)ax
};

uint32_t WidthMask(ntemu::Width width) {
  switch (width) {
    case ntemu::Width::Byte:
      return 0xFFu;
    case ntemu::Width::Word:
      return 0xFFFFu;
    case ntemu::Width::Dword:
      break;
  }
  return 0xFFFFFFFFu;
}

}  // namespace

bool DecodePortInstruction(const uint8_t* code, PortInstruction* instruction) {
  const bool prefixed = code[0] == kOperandSizePrefix;
  const uint8_t opcode = code[prefixed ? 1 : 0];
  for (const Opcode& candidate : kOpcodes) {
    if (candidate.code != opcode) continue;
    instruction->direction = candidate.direction;
    if (candidate.byteWide) {
      instruction->width = ntemu::Width::Byte;
    } else {
      instruction->width = prefixed ? ntemu::Width::Word : ntemu::Width::Dword;
    }
    instruction->portInDx = candidate.portInDx;
    const unsigned opcodeEnd = prefixed ? 2u : 1u;
    instruction->immediate = candidate.portInDx ? 0 : code[opcodeEnd];
    instruction->length = static_cast<uint8_t>(opcodeEnd + (candidate.portInDx ? 0u : 1u));
    return true;
  }
  return false;
}

uint64_t AccumulatorAfterRead(uint64_t accumulator, ntemu::Width width, uint32_t value) {
  const uint32_t mask = WidthMask(width);
  if (width == ntemu::Width::Dword) return value;
  return (accumulator & ~static_cast<uint64_t>(mask)) | (value & mask);
}

uint32_t ValueWritten(uint64_t accumulator, ntemu::Width width) {
  return static_cast<uint32_t>(accumulator) & WidthMask(width);
}

}  // namespace testhal
