// The dual-status host back-end (Chipset 8 and 9), port by port: scripted
// register answers and the exact accesses the driver makes for them. This
// host never pauses, so every test also checks that no pause was made.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "hosts/dual_status_host.h"
#include "support/scripted_host.h"

namespace omzi2c::testing {
namespace {

using ntemu::In8;
using ntemu::Out8;
using Bytes = std::vector<uint8_t>;

constexpr uint16_t kBase = 0x0600;
constexpr uint32_t kStatus = kBase + 0;
constexpr uint32_t kSecond = kBase + 1;
constexpr uint32_t kControl = kBase + 2;
constexpr uint32_t kCommand = kBase + 3;
constexpr uint32_t kAddress = kBase + 4;
constexpr uint32_t kData0 = kBase + 5;
constexpr uint32_t kData1 = kBase + 6;
constexpr uint32_t kBlockData = kBase + 7;
constexpr size_t kPolls = 10001;  // one read plus 10000 re-reads
constexpr uint8_t kUntouched = 0xEE;

// WaitIdle on a free host: one poll of both registers, then the status is
// read and written back.
Sequence FreeIdle(uint8_t left = 0x00) {
  return {In8(kStatus, 0x00), In8(kSecond, 0x00), In8(kStatus, left), Out8(kStatus, left)};
}
// WaitDone on a host that shows busy once, then `final`; the status reads
// `final` again when it is cleared.
Sequence Done(uint8_t final = 0x02) {
  return {In8(kStatus, 0x01), In8(kStatus, final), In8(kStatus, final), Out8(kStatus, final)};
}
Sequence Abort() {
  return {Out8(kControl, 0x42), Out8(kControl, 0x00)};
}

// One primitive, its out-parameters appended to `out` (left at kUntouched
// unless the primitive wrote them).
using Primitive = std::function<ResultCode(Bytes* out)>;

struct PrimitiveCase {
  const char* name;
  Primitive run;
  Sequence setUp;  // between WaitIdle and the start; its reads are scripted
  uint8_t control;
  Sequence after;  // after WaitDone; its reads are scripted
  Bytes out;
};

ResultCode BlockReadInto(UCHAR address, UCHAR command, Bytes* out) {
  UCHAR buffer[32];
  std::fill(buffer, buffer + 32, kUntouched);
  UCHAR count = kUntouched;
  const ResultCode result = DualStatusHost::BlockRead(address, command, buffer, &count);
  out->push_back(count);
  if (count <= 32) out->insert(out->end(), buffer, buffer + count);
  return result;
}

Bytes Counting(uint8_t first, size_t n) {
  Bytes bytes(n);
  for (size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

Bytes Prefixed(uint8_t first, const Bytes& rest) {
  Bytes bytes(1 + rest.size(), first);
  std::copy(rest.begin(), rest.end(), bytes.begin() + 1);
  return bytes;
}

Sequence BlockDataReads(const Bytes& bytes) {
  Sequence reads;
  for (uint8_t b : bytes)
    reads.push_back(In8(kBlockData, b));
  return reads;
}
Sequence BlockDataWrites(const Bytes& bytes) {
  Sequence writes;
  for (uint8_t b : bytes)
    writes.push_back(Out8(kBlockData, b));
  return writes;
}

const Bytes kForty = Counting(0x40, 40);

const std::vector<PrimitiveCase>& Primitives() {
  static const std::vector<PrimitiveCase> cases = {
      {"ReceiveByte",
       [](Bytes* out) {
         UCHAR b = kUntouched;
         const ResultCode r = DualStatusHost::ReceiveByte(0xA0, &b);
         out->push_back(b);
         return r;
       },
       {Out8(kAddress, 0xA1)},
       0x44,
       {In8(kData0, 0x77)},
       {0x77}},
      {"SendByte",
       [](Bytes*) { return DualStatusHost::SendByte(0xA1, 0x5A); },
       {Out8(kAddress, 0xA0), Out8(kCommand, 0x5A)},
       0x44,
       {},
       {}},
      {"ReadByteData",
       [](Bytes* out) {
         UCHAR b = kUntouched;
         const ResultCode r = DualStatusHost::ReadByteData(0xA0, 0x10, &b);
         out->push_back(b);
         return r;
       },
       {Out8(kAddress, 0xA1), Out8(kCommand, 0x10)},
       0x48,
       {In8(kData0, 0x3C)},
       {0x3C}},
      {"WriteByteData",
       [](Bytes*) { return DualStatusHost::WriteByteData(0xA1, 0x22, 0x99); },
       {Out8(kAddress, 0xA0), Out8(kCommand, 0x22), Out8(kData0, 0x99)},
       0x48,
       {},
       {}},
      {"ReadWordData",
       [](Bytes* out) {
         USHORT w = kUntouched | (kUntouched << 8);
         const ResultCode r = DualStatusHost::ReadWordData(0x30, 0x05, &w);
         out->push_back(static_cast<uint8_t>(w & 0xFF));
         out->push_back(static_cast<uint8_t>(w >> 8));
         return r;
       },
       {Out8(kAddress, 0x31), Out8(kCommand, 0x05)},
       0x4C,
       {In8(kData0, 0x34), In8(kData1, 0x12)},
       {0x34, 0x12}},
      {"WriteWordData",
       [](Bytes*) { return DualStatusHost::WriteWordData(0x31, 0x07, 0xBEEF); },
       {Out8(kAddress, 0x30), Out8(kCommand, 0x07), Out8(kData0, 0xEF), Out8(kData1, 0xBE)},
       0x4C,
       {},
       {}},
      {"BlockReadOf3",
       [](Bytes* out) { return BlockReadInto(0x88, 0x05, out); },
       {Out8(kAddress, 0x89), Out8(kCommand, 0x05)},
       0x54,
       Sequence{In8(kData0, 3), In8(kControl, 0x14)} + BlockDataReads({0x11, 0x22, 0x33}),
       {3, 0x11, 0x22, 0x33}},
      {"BlockReadOf32",
       [](Bytes* out) { return BlockReadInto(0x88, 0x06, out); },
       {Out8(kAddress, 0x89), Out8(kCommand, 0x06)},
       0x54,
       Sequence{In8(kData0, 32), In8(kControl, 0x14)} + BlockDataReads(Counting(0x80, 32)),
       Prefixed(32, Counting(0x80, 32))},
      {"BlockWriteOf3",
       [](Bytes*) {
         const UCHAR data[] = {0xA1, 0xB2, 0xC3};
         return DualStatusHost::BlockWrite(0x89, 0x12, data, 3);
       },
       Sequence{Out8(kAddress, 0x88), Out8(kCommand, 0x12), Out8(kData0, 3), In8(kControl, 0)} +
           BlockDataWrites({0xA1, 0xB2, 0xC3}),
       0x54,
       {},
       {}},
      {"BlockWriteOf40SendsOnly32",
       [](Bytes*) { return DualStatusHost::BlockWrite(0x88, 0x13, kForty.data(), 40); },
       Sequence{Out8(kAddress, 0x88), Out8(kCommand, 0x13), Out8(kData0, 32), In8(kControl, 0)} +
           BlockDataWrites(Bytes(kForty.begin(), kForty.begin() + 32)),
       0x54,
       {},
       {}},
      {"BlockWriteOf0StillStarts",
       [](Bytes*) { return DualStatusHost::BlockWrite(0x88, 0x14, nullptr, 0); },
       {Out8(kAddress, 0x88), Out8(kCommand, 0x14), Out8(kData0, 0), In8(kControl, 0)},
       0x54,
       {},
       {}},
  };
  return cases;
}

class DualStatusHostPorts : public ScriptedHostTest {
 protected:
  DualStatusHostPorts() : ScriptedHostTest(8, kBase) {}
  void TearDown() override { EXPECT_TRUE(clock_.Pauses().empty()); }

  // Scripts the answers of every read in `expected`, in order.
  void ScriptReads(const Sequence& expected) {
    for (const ntemu::PortAccess& access : expected) {
      if (access.direction == ntemu::Direction::Read) recording_.Queue(access.port, access.value);
    }
  }
};

TEST_F(DualStatusHostPorts, EveryPrimitiveWritesItsRegistersInOrderAndStartsWithOneControlWrite) {
  for (const PrimitiveCase& c : Primitives()) {
    SCOPED_TRACE(c.name);
    ClearLogs();
    const Sequence expected =
        FreeIdle() + c.setUp + Sequence{Out8(kControl, c.control)} + Done() + c.after;
    ScriptReads(expected);
    Bytes out;
    EXPECT_EQ(c.run(&out), kResultSuccess);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(Log(), expected);
  }
}

TEST_F(DualStatusHostPorts, HostThatNeverBecomesFreeIsAbortedWithNothingProgrammed) {
  // Each poll as the host answers it, 10001 times: status busy (the second
  // register is then not read), or status free and the second one busy.
  const struct {
    const char* name;
    Sequence poll;
  } stuck[] = {
      {"StatusBusy", {In8(kStatus, 0x01)}},
      {"SecondBusy", {In8(kStatus, 0x00), In8(kSecond, 0x01)}},
      {"StatusBusyWithFlags", {In8(kStatus, 0x1F)}},
      {"SecondBusyOverStaleFlags", {In8(kStatus, 0x1E), In8(kSecond, 0xFF)}},
  };
  for (const auto& s : stuck) {
    for (const PrimitiveCase& c : Primitives()) {
      SCOPED_TRACE(std::string(s.name) + " " + c.name);
      ClearLogs();
      const Sequence expected = Repeat(s.poll, kPolls) + Abort();
      ScriptReads(expected);
      Bytes out;
      EXPECT_EQ(c.run(&out), kResultTimeout);
      EXPECT_EQ(Log(), expected);
      EXPECT_EQ(out, Bytes(out.size(), kUntouched));
    }
  }
}

TEST_F(DualStatusHostPorts, BothBusyFlagsShareOnePollBudget) {
  const struct {
    const char* name;
    Sequence polls;
    ResultCode result;
  } cases[] = {
      {"HalfEachThenAbort",
       Repeat({In8(kStatus, 0x01)}, 5000) + Repeat({In8(kStatus, 0x00), In8(kSecond, 0x01)}, 5001) +
           Abort(),
       kResultTimeout},
      {"FreeInTheLastPoll",
       Repeat({In8(kStatus, 0x01)}, 4000) + Repeat({In8(kStatus, 0x00), In8(kSecond, 0x01)}, 6000) +
           Sequence{In8(kStatus, 0x00), In8(kSecond, 0x00), In8(kStatus, 0x06),
                    Out8(kStatus, 0x06)},
       kResultSuccess},
      {"StaleFlagsWrittenBack",
       {In8(kStatus, 0x01), In8(kStatus, 0x1E), In8(kSecond, 0xFE), In8(kStatus, 0x1E),
        Out8(kStatus, 0x1E)},
       kResultSuccess},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearLogs();
    ScriptReads(c.polls);
    EXPECT_EQ(DualStatusHost::WaitIdle(), c.result);
    EXPECT_EQ(Log(), c.polls);
  }
}

TEST_F(DualStatusHostPorts, WaitDoneTimeOutsAndTheDecodeOfTheFinalStatus) {
  // What follows the start of a ReadByteData: every status read after the
  // control write, and what the driver does then.
  const struct {
    const char* name;
    Sequence afterStart;
    ResultCode result;
  } cases[] = {
      // Neither busy nor finished: given up with no write at all.
      {"NotTakenUp", Repeat({In8(kStatus, 0x00)}, kPolls), kResultHostNotReady},
      {"NotTakenUpOverErrorFlags", Repeat({In8(kStatus, 0x1C)}, kPolls), kResultHostNotReady},
      // Taken up at the last read of the budget.
      {"TakenUpLast", Repeat({In8(kStatus, 0x00)}, kPolls - 1) + Done(), kResultSuccess},
      // Busy for good: a fresh budget for the busy flag, then the abort.
      {"NeverLeavesBusy", Repeat({In8(kStatus, 0x01)}, 1 + kPolls) + Abort(), kResultTimeout},
      {"LeavesBusyLast",
       Repeat({In8(kStatus, 0x03)}, 1 + kPolls - 1) +
           Sequence{In8(kStatus, 0x02), In8(kStatus, 0x02), Out8(kStatus, 0x02)},
       kResultSuccess},
      // The final status: failed, then collision, then device error.
      {"Finished", Done(0x02), kResultSuccess},
      {"FailedAndCollision", Done(0x02 | 0x10 | 0x08), kResultFailed},
      {"CollisionAndDeviceError", Done(0x02 | 0x08 | 0x04), kResultCollisionOrDeviceError},
      {"DeviceError", Done(0x02 | 0x04), kResultDeviceError},
      {"AllThree", Done(0x1E), kResultFailed},
      {"FailedWithoutFinished", Done(0x10), kResultFailed},
      // The value written back is the one read for the clear.
      {"ClearReadsAnother",
       {In8(kStatus, 0x02), In8(kStatus, 0x06), In8(kStatus, 0x0E), Out8(kStatus, 0x0E)},
       kResultDeviceError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearLogs();
    const Sequence expected =
        FreeIdle() + Sequence{Out8(kAddress, 0xA1), Out8(kCommand, 0x10), Out8(kControl, 0x48)} +
        c.afterStart + (c.result == kResultSuccess ? Sequence{In8(kData0, 0x42)} : Sequence{});
    ScriptReads(expected);
    UCHAR byte = kUntouched;
    EXPECT_EQ(DualStatusHost::ReadByteData(0xA0, 0x10, &byte), c.result);
    EXPECT_EQ(byte, c.result == kResultSuccess ? 0x42 : kUntouched);
    EXPECT_EQ(Log(), expected);
  }
}

TEST_F(DualStatusHostPorts, BlockReadRefusesCountsOfZeroAndAbove32BeforeTouchingTheBlock) {
  for (uint8_t reported : {0, 33, 255}) {
    SCOPED_TRACE(int(reported));
    ClearLogs();
    const Sequence expected =
        FreeIdle() + Sequence{Out8(kAddress, 0x89), Out8(kCommand, 0x00), Out8(kControl, 0x54)} +
        Done() + Sequence{In8(kData0, reported)};
    ScriptReads(expected);
    UCHAR buffer[32];
    std::fill(buffer, buffer + 32, kUntouched);
    UCHAR count = 7;
    EXPECT_EQ(DualStatusHost::BlockRead(0x88, 0x00, buffer, &count), kResultDeviceError);
    EXPECT_EQ(count, reported);
    EXPECT_EQ(Bytes(buffer, buffer + 32), Bytes(32, kUntouched));
    EXPECT_EQ(Log(), expected);
  }
}

}  // namespace
}  // namespace omzi2c::testing
