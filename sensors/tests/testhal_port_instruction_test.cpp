// The Wine test's decoder of trapped in/out instructions (x64 driver image):
// every form, both operand sizes, and what lands in the accumulator.
#include <gtest/gtest.h>

#include "windows/testhal/port_instruction.h"

namespace {

using ntemu::Direction;
using ntemu::Width;
using testhal::PortInstruction;

struct Form {
  std::vector<uint8_t> bytes;  // with two bytes of whatever follows
  Direction direction;
  Width width;
  bool portInDx;
  uint8_t immediate;
  uint8_t length;
};

TEST(TestHalPortInstruction, DecodesEveryForm) {
  const Form forms[] = {
      {{0xE4, 0x62, 0x90, 0x90}, Direction::Read, Width::Byte, false, 0x62, 2},
      {{0xE5, 0x71, 0x90, 0x90}, Direction::Read, Width::Dword, false, 0x71, 2},
      {{0x66, 0xE5, 0x80, 0x90}, Direction::Read, Width::Word, false, 0x80, 3},
      {{0xE6, 0x66, 0x90, 0x90}, Direction::Write, Width::Byte, false, 0x66, 2},
      {{0xE7, 0x70, 0x90, 0x90}, Direction::Write, Width::Dword, false, 0x70, 2},
      {{0x66, 0xE7, 0x72, 0x90}, Direction::Write, Width::Word, false, 0x72, 3},
      {{0xEC, 0xE4, 0x12, 0x90}, Direction::Read, Width::Byte, true, 0, 1},
      {{0xED, 0x90, 0x90, 0x90}, Direction::Read, Width::Dword, true, 0, 1},
      {{0x66, 0xED, 0x90, 0x90}, Direction::Read, Width::Word, true, 0, 2},
      {{0xEE, 0x90, 0x90, 0x90}, Direction::Write, Width::Byte, true, 0, 1},
      {{0xEF, 0x90, 0x90, 0x90}, Direction::Write, Width::Dword, true, 0, 1},
      {{0x66, 0xEF, 0x90, 0x90}, Direction::Write, Width::Word, true, 0, 2},
  };
  for (const Form& form : forms) {
    PortInstruction got{};
    ASSERT_TRUE(testhal::DecodePortInstruction(form.bytes.data(), &got)) << int{form.bytes[0]};
    EXPECT_EQ(got.direction, form.direction) << int{form.bytes[0]};
    EXPECT_EQ(got.width, form.width) << int{form.bytes[0]};
    EXPECT_EQ(got.portInDx, form.portInDx) << int{form.bytes[0]};
    EXPECT_EQ(got.immediate, form.immediate) << int{form.bytes[0]};
    EXPECT_EQ(got.length, form.length) << int{form.bytes[0]};
  }
}

TEST(TestHalPortInstruction, RefusesOtherInstructions) {
  const std::vector<uint8_t> others[] = {
      {0x0F, 0x20, 0xC0}, {0xFA, 0x90, 0x90}, {0x66, 0x90, 0xEC}, {0x6C, 0x90, 0x90}};
  for (const auto& bytes : others) {
    PortInstruction got{};
    EXPECT_FALSE(testhal::DecodePortInstruction(bytes.data(), &got)) << int{bytes[0]};
  }
}

TEST(TestHalPortInstruction, AccumulatorKeepsOnlyWhatTheWidthLeaves) {
  const uint64_t rax = 0x1122334455667788ull;
  EXPECT_EQ(testhal::AccumulatorAfterRead(rax, Width::Byte, 0xAB), 0x11223344556677ABull);
  EXPECT_EQ(testhal::AccumulatorAfterRead(rax, Width::Word, 0xABCD), 0x112233445566ABCDull);
  EXPECT_EQ(testhal::AccumulatorAfterRead(rax, Width::Dword, 0xDEADBEEF), 0xDEADBEEFull);
  EXPECT_EQ(testhal::ValueWritten(rax, Width::Byte), 0x88u);
  EXPECT_EQ(testhal::ValueWritten(rax, Width::Word), 0x7788u);
  EXPECT_EQ(testhal::ValueWritten(rax, Width::Dword), 0x55667788u);
}

}  // namespace
