// The start-port host back-end (Chipset 1), port by port and pause by
// pause: scripted register answers, and the exact accesses and 10 us pauses
// the driver makes for them, in one timeline.
#include <gtest/gtest.h>

#include "hosts/start_port_host.h"
#include "support/host_calls.h"
#include "support/scripted_host.h"

namespace omzi2c::testing {
namespace {

using ntemu::In8;
using ntemu::Out8;

constexpr uint16_t kBase = 0x0700;
constexpr uint32_t kStatus = kBase + 0, kProtocol = kBase + 1, kStart = kBase + 2,
                   kAddress = kBase + 3, kData0 = kBase + 4, kData1 = kBase + 5,
                   kBlockData = kBase + 6, kCommand = kBase + 7;

const HostPrimitives kHost{StartPortHost::ReceiveByte,  StartPortHost::SendByte,
                           StartPortHost::ReadByteData, StartPortHost::WriteByteData,
                           StartPortHost::ReadWordData, StartPortHost::WriteWordData,
                           StartPortHost::BlockRead,    StartPortHost::BlockWrite};

Events Read(uint8_t value) {
  return AsEvents({In8(kStatus, value)});
}
// `n` status reads of `value` with a pause between each two.
Events PacedReads(uint8_t value, size_t n) {
  return Read(value) + Repeat(Events{Stall10us()} + Read(value), n - 1);
}
// The status read for the clear, and the value written back.
Events Clear(uint8_t value) {
  return AsEvents({In8(kStatus, value), Out8(kStatus, value)});
}
// WaitIdle on an idle host: not busy, idle, then the clear.
const Events kIdle = Read(0x04) + Read(0x04) + Clear(0x04);
// WaitDone on a host that is busy one pause long, then done and idle with
// `final`, which the status still reads when it is cleared.
Events Done(uint8_t final = 0x14) {
  return Read(0x08) + Events{Stall10us()} + Read(final) + Read(final) + Clear(final);
}
Events Kill(uint8_t left) {
  return AsEvents({Out8(kProtocol, 0x04)}) + Clear(left);
}
const Events kGo = AsEvents({Out8(kStart, 0x01)});

Sequence Block(uint32_t port, const Bytes& bytes, bool write) {
  Sequence accesses;
  for (uint8_t b : bytes)
    accesses.push_back(write ? Out8(port, b) : In8(port, b));
  return accesses;
}

class StartPortHostPorts : public ScriptedHostTest {
 protected:
  StartPortHostPorts() : ScriptedHostTest(1, kBase) {}
  // `out`: the out-parameters expected; nullptr: every one left untouched.
  void Expect(const Call& run, const Events& expected, ResultCode result, const Bytes* out) {
    Sequence accesses;
    for (const Event& e : expected) {
      if (!e.isPause) accesses.push_back(e.access);
    }
    ScriptReads(accesses);
    Bytes got;
    EXPECT_EQ(run(&got), result);
    EXPECT_EQ(got, out ? *out : Bytes(got.size(), kUntouched));
    EXPECT_EQ(Timeline(), expected);
  }
};

TEST_F(StartPortHostPorts, EveryPrimitiveSetsUpItsRegistersInOrderThenWritesTheStartRegister) {
  const Bytes forty = Counting(0x40, 40);
  const struct {
    const char* name;
    Call run;
    Sequence setUp;  // between WaitIdle and the start
    Sequence after;  // after WaitDone
    Bytes out;
  } cases[] = {
      {"ReceiveByte",
       ReceiveByteCall(kHost, 0xA0),
       {Out8(kAddress, 0xA1), Out8(kProtocol, 0x10)},
       {In8(kData0, 0x77)},
       {0x77}},
      {"SendByte",
       SendByteCall(kHost, 0xA1, 0x5A),
       {Out8(kAddress, 0xA0), Out8(kCommand, 0x5A), Out8(kProtocol, 0x10)},
       {},
       {}},
      {"ReadByteData",
       ReadByteCall(kHost, 0xA0, 0x10),
       {Out8(kAddress, 0xA1), Out8(kCommand, 0x10), Out8(kProtocol, 0x20)},
       {In8(kData0, 0x3C)},
       {0x3C}},
      {"WriteByteDataProtocolBeforeData0",
       WriteByteCall(kHost, 0xA1, 0x22, 0x99),
       {Out8(kAddress, 0xA0), Out8(kCommand, 0x22), Out8(kProtocol, 0x20), Out8(kData0, 0x99)},
       {},
       {}},
      {"ReadWordData",
       ReadWordCall(kHost, 0x30, 0x05),
       {Out8(kAddress, 0x31), Out8(kCommand, 0x05), Out8(kProtocol, 0x30)},
       {In8(kData0, 0x34), In8(kData1, 0x12)},
       {0x34, 0x12}},
      {"WriteWordData",
       WriteWordCall(kHost, 0x31, 0x07, 0xBEEF),
       {Out8(kAddress, 0x30), Out8(kCommand, 0x07), Out8(kProtocol, 0x30), Out8(kData0, 0xEF),
        Out8(kData1, 0xBE)},
       {},
       {}},
      {"BlockReadOf32",
       BlockReadCall(kHost, 0x88, 0x06),
       {Out8(kAddress, 0x89), Out8(kCommand, 0x06), Out8(kProtocol, 0x40)},
       Sequence{In8(kData0, 32), Out8(kStatus, 0x04)} +
           Block(kBlockData, Counting(0x80, 32), false),
       Prefixed(32, Counting(0x80, 32))},
      {"BlockWriteProtocolAfterTheData",
       BlockWriteCall(kHost, 0x89, 0x12, {0xA1, 0xB2, 0xC3}),
       Sequence{Out8(kAddress, 0x88), Out8(kCommand, 0x12), Out8(kData0, 3), Out8(kStatus, 0x04)} +
           Block(kBlockData, {0xA1, 0xB2, 0xC3}, true) + Sequence{Out8(kProtocol, 0x40)},
       {},
       {}},
      {"BlockWriteOf40SendsOnly32",
       BlockWriteCall(kHost, 0x88, 0x13, forty),
       Sequence{Out8(kAddress, 0x88), Out8(kCommand, 0x13), Out8(kData0, 32), Out8(kStatus, 0x04)} +
           Block(kBlockData, Bytes(forty.begin(), forty.begin() + 32), true) +
           Sequence{Out8(kProtocol, 0x40)},
       {},
       {}},
      {"BlockWriteOf0StillStarts",
       BlockWriteCall(kHost, 0x88, 0x14, {}),
       {Out8(kAddress, 0x88), Out8(kCommand, 0x14), Out8(kData0, 0), Out8(kStatus, 0x04),
        Out8(kProtocol, 0x40)},
       {},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearLogs();
    Expect(c.run, kIdle + AsEvents(c.setUp) + kGo + Done() + AsEvents(c.after), kResultSuccess,
           &c.out);
  }
}

TEST_F(StartPortHostPorts, WaitIdleRefusesABusyOrNotIdleHostWithNothingWritten) {
  const struct {
    const char* name;
    Events idle;
    ResultCode result;
  } cases[] = {
      {"BusyForGood", PacedReads(0x08, 10001), kResultTimeout},
      {"BusyAndIdleForGood", PacedReads(0x0C, 10001), kResultTimeout},
      {"NeitherBusyNorIdle", Read(0x00) + Read(0x00), kResultBusError},
      {"NotBusyThenNotIdle", Read(0x04) + Read(0xF3), kResultBusError},
      {"BusyThenNeither", PacedReads(0x08, 3) + Events{Stall10us()} + Read(0x00) + Read(0x00),
       kResultBusError},
  };
  for (const auto& c : cases) {
    for (const Call& run : EveryPrimitive(kHost)) {
      SCOPED_TRACE(c.name);
      ClearLogs();
      Expect(run, c.idle, c.result, nullptr);
    }
  }
}

TEST_F(StartPortHostPorts, WaitIdleWaitsOutBusyUpToTheLastPoll) {
  const struct {
    const char* name;
    Events idle;
  } cases[] = {
      {"BusyThreePolls",
       PacedReads(0x08, 3) + Events{Stall10us()} + Read(0x04) + Read(0x04) + Clear(0x04)},
      {"FreeAtTheLastPoll",
       PacedReads(0x08, 10000) + Events{Stall10us()} + Read(0x94) + Read(0x94) + Clear(0xF4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearLogs();
    Expect(SendByteCall(kHost, 0xA0, 1),
           c.idle + AsEvents({Out8(kAddress, 0xA0), Out8(kCommand, 1), Out8(kProtocol, 0x10)}) +
               kGo + Done(),
           kResultSuccess, nullptr);
  }
}

TEST_F(StartPortHostPorts, WaitDoneSharesOneBudgetOfPausesAndKillsOnTimeOut) {
  const struct {
    const char* name;
    Events afterStart;
    ResultCode result;
  } cases[] = {
      {"NeverDone", PacedReads(0x04, 10001) + Kill(0x0C), kResultTimeout},
      // Done after 9000 pauses, idle 2000 later: the budget runs out 1000 pauses in.
      {"DoneLateIdleLater",
       PacedReads(0x08, 9000) + Events{Stall10us()} + Read(0x10) + PacedReads(0x10, 1001) +
           Kill(0x10),
       kResultTimeout},
      // Idle exactly at the last pause of the shared budget.
      {"IdleAtTheLastPause",
       PacedReads(0x08, 9000) + Events{Stall10us()} + Read(0x10) + PacedReads(0x10, 1000) +
           Events{Stall10us()} + Read(0x14) + Clear(0x14),
       kResultSuccess},
      // Done and idle in one read: the idle phase reads again without a pause.
      {"DoneAndIdleAtOnce", Read(0x14) + Read(0x14) + Clear(0x14), kResultSuccess},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearLogs();
    Expect(SendByteCall(kHost, 0xA0, 1),
           kIdle + AsEvents({Out8(kAddress, 0xA0), Out8(kCommand, 1), Out8(kProtocol, 0x10)}) +
               kGo + c.afterStart,
           c.result, nullptr);
  }
}

TEST_F(StartPortHostPorts, FinalStatusDecidesByFailedBusErrorDeviceError) {
  const struct {
    uint8_t final;
    ResultCode result;
  } cases[] = {{0x14, kResultSuccess}, {0x94, kResultFailed},      {0x54, kResultBusError},
               {0xD4, kResultFailed},  {0x34, kResultDeviceError}, {0x74, kResultBusError},
               {0x04, kResultSuccess}, {0xF4, kResultFailed}};
  const Bytes kByte{0x42};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.final));
    ClearLogs();
    const bool ok = c.result == kResultSuccess;
    Expect(ReadByteCall(kHost, 0xA0, 0x10),
           kIdle + AsEvents({Out8(kAddress, 0xA1), Out8(kCommand, 0x10), Out8(kProtocol, 0x20)}) +
               kGo + Read(0x10) + Read(c.final) + Clear(0x10 | c.final) +
               (ok ? AsEvents({In8(kData0, 0x42)}) : Events{}),
           c.result, ok ? &kByte : nullptr);
  }
}

TEST_F(StartPortHostPorts, BlockReadRefusesCountsOfZeroAndAbove32BeforeTouchingTheBlock) {
  for (uint8_t reported : {0, 33, 255}) {
    SCOPED_TRACE(int(reported));
    const Bytes count{reported};  // and no byte of the buffer
    ClearLogs();
    Expect(BlockReadCall(kHost, 0x88, 0x00),
           kIdle + AsEvents({Out8(kAddress, 0x89), Out8(kCommand, 0x00), Out8(kProtocol, 0x40)}) +
               kGo + Done() + AsEvents({In8(kData0, reported)}),
           kResultDeviceError, &count);
  }
}

}  // namespace
}  // namespace omzi2c::testing
