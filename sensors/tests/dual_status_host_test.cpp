// The dual-status host back-end (Chipset 8 and 9), port by port: scripted
// register answers and the exact accesses the driver makes for them. This
// host never pauses, so every test also checks that no pause was made.
#include <gtest/gtest.h>

#include <string>

#include "hosts/dual_status_host.h"
#include "support/host_calls.h"
#include "support/scripted_host.h"

namespace omzi2c::testing {
namespace {

using ntemu::In8;
using ntemu::Out8;

constexpr uint16_t kBase = 0x0600;
constexpr uint32_t kStatus = kBase + 0, kSecond = kBase + 1, kControl = kBase + 2,
                   kCommand = kBase + 3, kAddress = kBase + 4, kData0 = kBase + 5,
                   kData1 = kBase + 6, kBlockData = kBase + 7;
constexpr size_t kPolls = 10001;  // one read plus 10000 re-reads

const HostPrimitives kHost{DualStatusHost::ReceiveByte,  DualStatusHost::SendByte,
                           DualStatusHost::ReadByteData, DualStatusHost::WriteByteData,
                           DualStatusHost::ReadWordData, DualStatusHost::WriteWordData,
                           DualStatusHost::BlockRead,    DualStatusHost::BlockWrite};

// WaitIdle on a free host: one poll of both registers, then the status is
// read and written back.
const Sequence kFreeIdle = {In8(kStatus, 0x00), In8(kSecond, 0x00), In8(kStatus, 0x00),
                            Out8(kStatus, 0x00)};
// WaitDone on a host that shows busy once, then `final`, which the status
// still reads when it is cleared.
Sequence Done(uint8_t final = 0x02) {
  return {In8(kStatus, 0x01), In8(kStatus, final), In8(kStatus, final), Out8(kStatus, final)};
}
const Sequence kAbort = {Out8(kControl, 0x42), Out8(kControl, 0x00)};

Sequence Block(uint32_t port, const Bytes& bytes, bool write) {
  Sequence accesses;
  for (uint8_t b : bytes)
    accesses.push_back(write ? Out8(port, b) : In8(port, b));
  return accesses;
}

class DualStatusHostPorts : public ScriptedHostTest {
 protected:
  DualStatusHostPorts() : ScriptedHostTest(8, kBase) {}
  void TearDown() override { EXPECT_TRUE(clock_.Pauses().empty()); }
};

TEST_F(DualStatusHostPorts, EveryPrimitiveWritesItsRegistersInOrderAndStartsWithOneControlWrite) {
  const Bytes forty = Counting(0x40, 40);
  const struct {
    const char* name;
    Call run;
    Sequence setUp;  // between WaitIdle and the start
    uint8_t control;
    Sequence after;  // after WaitDone
    Bytes out;
  } cases[] = {
      {"ReceiveByte",
       ReceiveByteCall(kHost, 0xA0),
       {Out8(kAddress, 0xA1)},
       0x44,
       {In8(kData0, 0x77)},
       {0x77}},
      {"SendByte",
       SendByteCall(kHost, 0xA1, 0x5A),
       {Out8(kAddress, 0xA0), Out8(kCommand, 0x5A)},
       0x44,
       {},
       {}},
      {"ReadByteData",
       ReadByteCall(kHost, 0xA0, 0x10),
       {Out8(kAddress, 0xA1), Out8(kCommand, 0x10)},
       0x48,
       {In8(kData0, 0x3C)},
       {0x3C}},
      {"WriteByteData",
       WriteByteCall(kHost, 0xA1, 0x22, 0x99),
       {Out8(kAddress, 0xA0), Out8(kCommand, 0x22), Out8(kData0, 0x99)},
       0x48,
       {},
       {}},
      {"ReadWordData",
       ReadWordCall(kHost, 0x30, 0x05),
       {Out8(kAddress, 0x31), Out8(kCommand, 0x05)},
       0x4C,
       {In8(kData0, 0x34), In8(kData1, 0x12)},
       {0x34, 0x12}},
      {"WriteWordData",
       WriteWordCall(kHost, 0x31, 0x07, 0xBEEF),
       {Out8(kAddress, 0x30), Out8(kCommand, 0x07), Out8(kData0, 0xEF), Out8(kData1, 0xBE)},
       0x4C,
       {},
       {}},
      {"BlockReadOf3",
       BlockReadCall(kHost, 0x88, 0x05),
       {Out8(kAddress, 0x89), Out8(kCommand, 0x05)},
       0x54,
       Sequence{In8(kData0, 3), In8(kControl, 0x14)} + Block(kBlockData, {1, 2, 3}, false),
       {3, 1, 2, 3}},
      {"BlockReadOf32",
       BlockReadCall(kHost, 0x88, 0x06),
       {Out8(kAddress, 0x89), Out8(kCommand, 0x06)},
       0x54,
       Sequence{In8(kData0, 32), In8(kControl, 0x14)} +
           Block(kBlockData, Counting(0x80, 32), false),
       Prefixed(32, Counting(0x80, 32))},
      {"BlockWriteOf3",
       BlockWriteCall(kHost, 0x89, 0x12, {0xA1, 0xB2, 0xC3}),
       Sequence{Out8(kAddress, 0x88), Out8(kCommand, 0x12), Out8(kData0, 3), In8(kControl, 0)} +
           Block(kBlockData, {0xA1, 0xB2, 0xC3}, true),
       0x54,
       {},
       {}},
      {"BlockWriteOf40SendsOnly32",
       BlockWriteCall(kHost, 0x88, 0x13, forty),
       Sequence{Out8(kAddress, 0x88), Out8(kCommand, 0x13), Out8(kData0, 32), In8(kControl, 0)} +
           Block(kBlockData, Bytes(forty.begin(), forty.begin() + 32), true),
       0x54,
       {},
       {}},
      {"BlockWriteOf0StillStarts",
       BlockWriteCall(kHost, 0x88, 0x14, {}),
       {Out8(kAddress, 0x88), Out8(kCommand, 0x14), Out8(kData0, 0), In8(kControl, 0)},
       0x54,
       {},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearLogs();
    const Sequence expected =
        kFreeIdle + c.setUp + Sequence{Out8(kControl, c.control)} + Done() + c.after;
    ScriptReads(expected);
    Bytes out;
    EXPECT_EQ(c.run(&out), kResultSuccess);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(Log(), expected);
  }
}

TEST_F(DualStatusHostPorts, HostThatNeverBecomesFreeIsAbortedWithNothingProgrammed) {
  // One poll as the host answers it, 10001 times: status busy (the second
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
    for (const Call& run : EveryPrimitive(kHost)) {
      SCOPED_TRACE(s.name);
      ClearLogs();
      const Sequence expected = Repeat(s.poll, kPolls) + kAbort;
      ScriptReads(expected);
      Bytes out;
      EXPECT_EQ(run(&out), kResultTimeout);
      EXPECT_EQ(Log(), expected);
      EXPECT_EQ(out, Bytes(out.size(), kUntouched));
    }
  }
}

TEST_F(DualStatusHostPorts, BothBusyFlagsShareOnePollBudget) {
  const Sequence secondBusy = {In8(kStatus, 0x00), In8(kSecond, 0x01)};
  const struct {
    const char* name;
    Sequence polls;
    ResultCode result;
  } cases[] = {
      {"HalfEachThenAbort", Repeat({In8(kStatus, 0x01)}, 5000) + Repeat(secondBusy, 5001) + kAbort,
       kResultTimeout},
      {"FreeInTheLastPoll",
       Repeat({In8(kStatus, 0x01)}, 4000) + Repeat(secondBusy, 6000) +
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
  // Every access after the start of a ReadByteData.
  const struct {
    const char* name;
    Sequence afterStart;
    ResultCode result;
  } cases[] = {
      // Neither busy nor finished: given up with no write at all.
      {"NotTakenUp", Repeat({In8(kStatus, 0x00)}, kPolls), kResultHostNotReady},
      {"NotTakenUpOverErrorFlags", Repeat({In8(kStatus, 0x1C)}, kPolls), kResultHostNotReady},
      {"TakenUpInTheLastRead", Repeat({In8(kStatus, 0x00)}, kPolls - 1) + Done(), kResultSuccess},
      // Busy for good: a fresh budget for the busy flag, then the abort.
      {"NeverLeavesBusy", Repeat({In8(kStatus, 0x01)}, 1 + kPolls) + kAbort, kResultTimeout},
      {"LeavesBusyInTheLastRead",
       Repeat({In8(kStatus, 0x03)}, kPolls) +
           Sequence{In8(kStatus, 0x02), In8(kStatus, 0x02), Out8(kStatus, 0x02)},
       kResultSuccess},
      // The final status: failed, then collision, then device error.
      {"FailedAndCollision", Done(0x02 | 0x10 | 0x08), kResultFailed},
      {"CollisionAndDeviceError", Done(0x02 | 0x08 | 0x04), kResultCollisionOrDeviceError},
      {"DeviceError", Done(0x02 | 0x04), kResultDeviceError},
      {"AllThree", Done(0x1E), kResultFailed},
      {"FailedWithoutFinished", Done(0x10), kResultFailed},
      // Decoded from the read that found busy clear; the clear writes back its own read.
      {"ClearReadsAnother",
       {In8(kStatus, 0x02), In8(kStatus, 0x06), In8(kStatus, 0x0E), Out8(kStatus, 0x0E)},
       kResultDeviceError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearLogs();
    const bool ok = c.result == kResultSuccess;
    const Sequence expected =
        kFreeIdle + Sequence{Out8(kAddress, 0xA1), Out8(kCommand, 0x10), Out8(kControl, 0x48)} +
        c.afterStart + (ok ? Sequence{In8(kData0, 0x42)} : Sequence{});
    ScriptReads(expected);
    Bytes out;
    EXPECT_EQ(ReadByteCall(kHost, 0xA0, 0x10)(&out), c.result);
    EXPECT_EQ(out, Bytes{ok ? uint8_t{0x42} : kUntouched});
    EXPECT_EQ(Log(), expected);
  }
}

TEST_F(DualStatusHostPorts, BlockReadRefusesCountsOfZeroAndAbove32BeforeTouchingTheBlock) {
  for (uint8_t reported : {0, 33, 255}) {
    SCOPED_TRACE(int(reported));
    ClearLogs();
    const Sequence expected =
        kFreeIdle + Sequence{Out8(kAddress, 0x89), Out8(kCommand, 0x00), Out8(kControl, 0x54)} +
        Done() + Sequence{In8(kData0, reported)};
    ScriptReads(expected);
    Bytes out;
    EXPECT_EQ(BlockReadCall(kHost, 0x88, 0x00)(&out), kResultDeviceError);
    EXPECT_EQ(out[0], reported);  // the buffer is checked untouched for a count of 0
    EXPECT_EQ(Log(), expected);
  }
}

}  // namespace
}  // namespace omzi2c::testing
