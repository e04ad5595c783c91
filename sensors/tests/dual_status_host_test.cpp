// The dual-status host back-end (Chipset 8 and 9), port by port: scripted
// register answers and the exact accesses the driver makes for them, with
// no pause anywhere. Registers at the base: 0 status, 1 second status,
// 2 control, 3 command, 4 address, 5 data0, 6 data1, 7 block data.
#include <gtest/gtest.h>

#include <cstdio>

#include "hosts/dual_status_host.h"
#include "support/scripted_host.h"

namespace omzi2c::testing {
namespace {

const HostPrimitives kHost{DualStatusHost::ReceiveByte,  DualStatusHost::SendByte,
                           DualStatusHost::ReadByteData, DualStatusHost::WriteByteData,
                           DualStatusHost::ReadWordData, DualStatusHost::WriteWordData,
                           DualStatusHost::BlockRead,    DualStatusHost::BlockWrite};

// A free host: one poll of both status registers, then the status cleared.
const std::string kIdle = "r0=00 r1=00 r0=00 w0=00 ";
// Busy once, then finished: `final` is decoded and written back.
std::string Done(const std::string& final = "02") {
  return "r0=01 r0=" + final + " r0=" + final + " w0=" + final + " ";
}
const std::string kAbort = "w2=42 w2=00";

class DualStatusHostPorts : public ScriptedHostTest {
 protected:
  DualStatusHostPorts() : ScriptedHostTest(8, 0x0600) {}
};

TEST_F(DualStatusHostPorts, EveryPrimitiveWritesItsRegistersInOrderAndStartsWithOneControlWrite) {
  const struct {
    Call call;
    std::string setUp, after;  // around the start and WaitDone
    Bytes out;
  } cases[] = {
      {ReceiveByteCall(kHost, 0xA0), "w4=a1 w2=44 ", "r5=77", {0x77}},
      {SendByteCall(kHost, 0xA1, 0x5A), "w4=a0 w3=5a w2=44 ", "", {}},
      {ReadByteCall(kHost, 0xA0, 0x10), "w4=a1 w3=10 w2=48 ", "r5=3c", {0x3C}},
      {WriteByteCall(kHost, 0xA1, 0x22, 0x99), "w4=a0 w3=22 w5=99 w2=48 ", "", {}},
      {ReadWordCall(kHost, 0x30, 5), "w4=31 w3=05 w2=4c ", "r5=34 r6=12", {0x34, 0x12}},
      {WriteWordCall(kHost, 0x31, 7, 0xBEEF), "w4=30 w3=07 w5=ef w6=be w2=4c ", "", {}},
      {BlockReadCall(kHost, 0x88, 5),
       "w4=89 w3=05 w2=54 ",
       "r5=03 r2=14 r7=01 r7=02 r7=03",
       {3, 1, 2, 3}},
      {BlockReadCall(kHost, 0x88, 6), "w4=89 w3=06 w2=54 ", "r5=20 r2=14 r7=ab*32",
       Prefixed(32, Bytes(32, 0xAB))},
      {BlockWriteCall(kHost, 0x89, 0x12, {0xA1, 0xB2}),
       "w4=88 w3=12 w5=02 r2=00 w7=a1 w7=b2 w2=54 ",
       "",
       {}},
      {BlockWriteCall(kHost, 0x88, 0x13, Bytes(40, 0x5C)),
       "w4=88 w3=13 w5=20 r2=00 w7=5c*32 w2=54 ",
       "",
       {}},  // cut to 32
      {BlockWriteCall(kHost, 0x88, 0x14, {}), "w4=88 w3=14 w5=00 r2=00 w2=54 ", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setUp);
    Expect(c.call, kIdle + c.setUp + Done() + c.after, kResultSuccess, &c.out);
  }
}

TEST_F(DualStatusHostPorts, HostThatNeverBecomesFreeIsAbortedWithNothingProgrammed) {
  // 10001 polls: status busy (the second register is then not read), or
  // status free and the second busy flag set; or both in turn on one budget.
  for (const char* polls : {"r0=01*10001 ", "(r0=00 r1=01)*10001 ", "r0=1f*10001 ",
                            "(r0=1e r1=ff)*10001 ", "r0=01*5000 (r0=00 r1=01)*5001 "}) {
    for (const Call& call : EveryPrimitive(kHost)) {
      SCOPED_TRACE(polls);
      Expect(call, polls + kAbort, kResultTimeout);
    }
  }
  // Free in the last poll of the budget; stale flags are written back as read.
  Expect(SendByteCall(kHost, 0xA0, 1),
         "r0=01*4000 (r0=00 r1=01)*6000 r0=00 r1=00 r0=1e w0=1e w4=a0 w3=01 w2=44 " + Done(),
         kResultSuccess);
}

TEST_F(DualStatusHostPorts, WaitDoneTimeOutsAndTheDecodeOfTheFinalStatus) {
  const struct {
    std::string afterStart;
    ResultCode result;
  } cases[] = {
      // Neither busy nor finished: given up with no write at all.
      {"r0=00*10001", kResultHostNotReady},
      {"r0=1c*10001", kResultHostNotReady},
      {"r0=00*10000 " + Done(), kResultSuccess},
      // Busy for good: a fresh budget for busy to clear, then the abort.
      {"r0=01 r0=01*10001 " + kAbort, kResultTimeout},
      {"r0=03 r0=03*10000 r0=02 r0=02 w0=02 ", kResultSuccess},
      // Failed, then collision, then device error; the clear writes back its own read.
      {Done("1a"), kResultFailed},
      {Done("0e"), kResultCollisionOrDeviceError},
      {Done("06"), kResultDeviceError},
      {Done("1e"), kResultFailed},
      {Done("10"), kResultFailed},
      {"r0=02 r0=06 r0=0e w0=0e ", kResultDeviceError},
  };
  const Bytes read{0x42};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.afterStart.substr(0, 40));
    const bool ok = c.result == kResultSuccess;
    Expect(ReadByteCall(kHost, 0xA0, 0x10),
           kIdle + "w4=a1 w3=10 w2=48 " + c.afterStart + (ok ? " r5=42" : ""), c.result,
           ok ? &read : nullptr);
  }
}

TEST_F(DualStatusHostPorts, BlockReadRefusesCountsOfZeroAndAbove32BeforeTouchingTheBlock) {
  for (uint8_t count : {0, 33, 255}) {
    char length[8];
    std::snprintf(length, sizeof length, "r5=%02x", count);
    const Bytes out{count};  // and no byte of the buffer
    Expect(BlockReadCall(kHost, 0x88, 0), kIdle + "w4=89 w3=00 w2=54 " + Done() + length,
           kResultDeviceError, &out);
  }
}

}  // namespace
}  // namespace omzi2c::testing
