// The start-port host back-end (Chipset 1), port by port and pause by
// pause: scripted register answers, and the exact accesses and 10 us pauses
// the driver makes for them. Registers at the base: 0 status, 1 protocol,
// 2 start, 3 address, 4 data0, 5 data1, 6 block data, 7 command.
#include <gtest/gtest.h>

#include <cstdio>

#include "hosts/start_port_host.h"
#include "support/scripted_host.h"

namespace omzi2c::testing {
namespace {

const HostPrimitives kHost{StartPortHost::ReceiveByte,  StartPortHost::SendByte,
                           StartPortHost::ReadByteData, StartPortHost::WriteByteData,
                           StartPortHost::ReadWordData, StartPortHost::WriteWordData,
                           StartPortHost::BlockRead,    StartPortHost::BlockWrite};

// An idle host: not busy, idle, then the status cleared.
const std::string kIdle = "r0=04 r0=04 r0=04 w0=04 ";
// Busy one pause long, then done and idle with `final`, which is decoded
// and written back.
std::string Done(const std::string& final = "14") {
  return "r0=08 p r0=" + final + " r0=" + final + " r0=" + final + " w0=" + final + " ";
}
// A send byte up to its start.
const std::string kSendByte = "w3=a0 w7=01 w1=10 w2=01 ";

std::string Hex(uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", value);
  return text;
}

class StartPortHostPorts : public ScriptedHostTest {
 protected:
  StartPortHostPorts() : ScriptedHostTest(1, 0x0700) {}
};

TEST_F(StartPortHostPorts, EveryPrimitiveSetsUpItsRegistersInOrderThenWritesTheStartRegister) {
  const struct {
    Call call;
    std::string setUp, after;  // before the start, after WaitDone
    Bytes out;
  } cases[] = {
      {ReceiveByteCall(kHost, 0xA0), "w3=a1 w1=10 ", "r4=77", {0x77}},
      {SendByteCall(kHost, 0xA1, 0x5A), "w3=a0 w7=5a w1=10 ", "", {}},
      {ReadByteCall(kHost, 0xA0, 0x10), "w3=a1 w7=10 w1=20 ", "r4=3c", {0x3C}},
      {WriteByteCall(kHost, 0xA1, 0x22, 0x99), "w3=a0 w7=22 w1=20 w4=99 ", "", {}},
      {ReadWordCall(kHost, 0x30, 5), "w3=31 w7=05 w1=30 ", "r4=34 r5=12", {0x34, 0x12}},
      {WriteWordCall(kHost, 0x31, 7, 0xBEEF), "w3=30 w7=07 w1=30 w4=ef w5=be ", "", {}},
      {BlockReadCall(kHost, 0x88, 6), "w3=89 w7=06 w1=40 ", "r4=20 w0=04 r6=ab*32",
       Prefixed(32, Bytes(32, 0xAB))},
      // The protocol after the data, unlike every other primitive.
      {BlockWriteCall(kHost, 0x89, 0x12, {0xA1, 0xB2}),
       "w3=88 w7=12 w4=02 w0=04 w6=a1 w6=b2 w1=40 ",
       "",
       {}},
      {BlockWriteCall(kHost, 0x88, 0x13, Bytes(40, 0x5C)),
       "w3=88 w7=13 w4=20 w0=04 w6=5c*32 w1=40 ",
       "",
       {}},  // cut to 32
      {BlockWriteCall(kHost, 0x88, 0x14, {}), "w3=88 w7=14 w4=00 w0=04 w1=40 ", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setUp);
    Expect(c.call, kIdle + c.setUp + "w2=01 " + Done() + c.after, kResultSuccess, &c.out);
  }
}

TEST_F(StartPortHostPorts, WaitIdleRefusesABusyOrNotIdleHostWithNothingWritten) {
  const struct {
    const char* idle;
    ResultCode result;
  } cases[] = {
      {"r0=08 (p r0=08)*10000", kResultTimeout},
      {"r0=0c (p r0=0c)*10000", kResultTimeout},
      {"r0=00 r0=00", kResultBusError},  // neither busy nor idle: at once
      {"r0=04 r0=f3", kResultBusError},
      {"r0=08 (p r0=08)*2 p r0=00 r0=00", kResultBusError},
  };
  for (const auto& c : cases) {
    for (const Call& call : EveryPrimitive(kHost)) {
      SCOPED_TRACE(c.idle);
      Expect(call, c.idle, c.result);
    }
  }
  // Free at the last poll; the value read for the clear is written back.
  Expect(SendByteCall(kHost, 0xA0, 1),
         "r0=08 (p r0=08)*9999 p r0=94 r0=94 r0=f4 w0=f4 " + kSendByte + Done(), kResultSuccess);
}

TEST_F(StartPortHostPorts, WaitDoneSharesOneBudgetOfPausesAndKillsOnTimeOut) {
  const struct {
    const char* afterStart;
    ResultCode result;
  } cases[] = {
      {"r0=04 (p r0=04)*10000 w1=04 r0=0c w0=0c", kResultTimeout},  // never done
      // Done after 9000 pauses, idle 2000 later: the budget runs out 1000 pauses in.
      {"r0=08 (p r0=08)*8999 p r0=10 r0=10 (p r0=10)*1000 w1=04 r0=10 w0=10", kResultTimeout},
      // Idle at the last pause of the shared budget.
      {"r0=08 (p r0=08)*8999 p r0=10 r0=10 (p r0=10)*999 p r0=14 r0=14 w0=14", kResultSuccess},
      // Done and idle in one read: the idle phase reads again, with no pause.
      {"r0=14 r0=14 r0=14 w0=14", kResultSuccess},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.afterStart);
    Expect(SendByteCall(kHost, 0xA0, 1), kIdle + kSendByte + c.afterStart, c.result);
  }
}

TEST_F(StartPortHostPorts, FinalStatusDecidesByFailedBusErrorDeviceError) {
  const struct {
    uint8_t final;
    ResultCode result;
  } cases[] = {{0x14, kResultSuccess}, {0x94, kResultFailed},      {0x54, kResultBusError},
               {0xD4, kResultFailed},  {0x34, kResultDeviceError}, {0x74, kResultBusError},
               {0x04, kResultSuccess}, {0xF4, kResultFailed}};
  const Bytes read{0x42};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.final));
    const bool ok = c.result == kResultSuccess;
    const std::string left = Hex(0x10 | c.final);
    Expect(ReadByteCall(kHost, 0xA0, 0x10),
           kIdle + "w3=a1 w7=10 w1=20 w2=01 r0=10 r0=" + Hex(c.final) + " r0=" + left +
               " w0=" + left + (ok ? " r4=42" : ""),
           c.result, ok ? &read : nullptr);
  }
}

TEST_F(StartPortHostPorts, BlockReadRefusesCountsOfZeroAndAbove32BeforeTouchingTheBlock) {
  for (uint8_t count : {0, 33, 255}) {
    const Bytes out{count};  // and no byte of the buffer
    Expect(BlockReadCall(kHost, 0x88, 0),
           kIdle + "w3=89 w7=00 w1=40 w2=01 " + Done() + "r4=" + Hex(count), kResultDeviceError,
           &out);
  }
}

}  // namespace
}  // namespace omzi2c::testing
