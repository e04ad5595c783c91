// The embedded-controller back-end, port by port. Each case is the exact
// access sequence the controller sees; the reads in it are also what the
// scripted controller answers, so any access more, less or out of order
// shows as a difference.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "controller_state.h"
#include "hosts/embedded_controller_host.h"
#include "ntemu/clock.h"
#include "ntemu/port_space.h"

namespace omzi2c::testing {
namespace {

namespace Ec = EmbeddedControllerHost;
using ntemu::In8;
using ntemu::Out8;
using ntemu::PortAccess;
using Sequence = std::vector<PortAccess>;

constexpr uint16_t kData = 0x0620;
constexpr uint16_t kCmd = 0x0624;
constexpr uint8_t kDoneEvent = 0x5E;  // the controller's event for a finished transaction
constexpr size_t kLimit = 10001;

Sequence operator+(Sequence a, const Sequence& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Sequence Repeat(const Sequence& part, size_t times) {
  Sequence all;
  for (size_t i = 0; i < times; ++i)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Each pending event is queried and its byte read; then the flag is clear.
Sequence Drain(const std::vector<uint8_t>& events = {}) {
  Sequence s;
  for (uint8_t event : events)
    s = s + Sequence{In8(kCmd, 0x20), Out8(kCmd, 0x84), In8(kCmd, 0x01), In8(kData, event)};
  return s + Sequence{In8(kCmd, 0x00)};
}
Sequence Write(uint8_t index, uint8_t value, const std::vector<uint8_t>& events = {}) {
  return Drain(events) + Sequence{In8(kCmd, 0x00),    Out8(kCmd, 0x81), In8(kCmd, 0x00),
                                  Out8(kData, index), In8(kCmd, 0x00),  Out8(kData, value),
                                  In8(kCmd, 0x00)};
}
Sequence Read(uint8_t index, uint8_t value, const std::vector<uint8_t>& events = {}) {
  return Drain(events) + Sequence{In8(kCmd, 0x00),    Out8(kCmd, 0x80), In8(kCmd, 0x00),
                                  Out8(kData, index), In8(kCmd, 0x01),  In8(kData, value)};
}
// Protocol written, the event seen on the second read, the status read.
Sequence Frame(uint8_t protocol, uint8_t status) {
  return Write(0x00, protocol) + Sequence{In8(kCmd, 0x00), In8(kCmd, 0x20)} +
         Read(0x01, status, {kDoneEvent});
}

class EcHostPorts : public ::testing::Test {
 protected:
  EcHostPorts() {
    Controller = ControllerState{};
    Controller.Chipset = 10;
    Controller.EcDataPort = kData;
    Controller.EcCommandPort = kCmd;
    recording_.SetDefault(kCmd, 0x00);  // a ready controller, should anything read on
  }
  ~EcHostPorts() override { Controller = ControllerState{}; }
  // The controller answers the reads of `expected`, in order.
  void Script(const Sequence& expected) {
    for (const PortAccess& access : expected)
      if (access.direction == ntemu::Direction::Read) recording_.Queue(access.port, access.value);
  }
  const Sequence& Log() const { return recording_.Accesses(); }

  ntemu::RecordingPortSpace recording_;
  ntemu::VirtualClock clock_;
  ntemu::ScopedPortSpace usePorts_{&recording_};
  ntemu::ScopedClock useClock_{&clock_};
};

// --- every primitive, the address byte as it came -------------------------

UCHAR gByte;
USHORT gWord;
UCHAR gBlock[32];
UCHAR gCount;

struct Primitive {
  const char* name;
  std::function<ResultCode()> call;
  Sequence expected;
  uint32_t out;  // the byte, word or count it stores
};

Sequence Blocks(uint8_t first, const std::vector<uint8_t>& values, bool read) {
  Sequence s;
  for (size_t i = 0; i < values.size(); ++i) {
    const uint8_t index = static_cast<uint8_t>(first + i);
    s = s + (read ? Read(index, values[i]) : Write(index, values[i]));
  }
  return s;
}

TEST_F(EcHostPorts, EachPrimitiveWritesItsRegistersProtocolLastAndReadsResultsOnStatus80) {
  const UCHAR block[] = {0xA1, 0xB2, 0xC3};
  const Primitive cases[] = {
      {"receive byte", [] { return Ec::ReceiveByte(0xA1, &gByte); },
       Write(2, 0xA1) + Frame(0x05, 0x80) + Read(4, 0x5A), 0x5A},
      {"send byte", [] { return Ec::SendByte(0xA0, 0x3C); },
       Write(2, 0xA0) + Write(3, 0x3C) + Frame(0x04, 0x80), 0},
      {"read byte", [] { return Ec::ReadByteData(0xA0, 0x10, &gByte); },
       Write(2, 0xA0) + Read(2, 0xA0) + Write(3, 0x10) + Read(3, 0x10) + Frame(0x07, 0x80) +
           Read(4, 0x77),
       0x77},
      {"write byte", [] { return Ec::WriteByteData(0xA1, 0x22, 0x99); },
       Write(2, 0xA1) + Write(3, 0x22) + Write(4, 0x99) + Frame(0x06, 0x80), 0},
      {"read word", [] { return Ec::ReadWordData(0x5D, 0x07, &gWord); },
       Write(2, 0x5D) + Write(3, 0x07) + Frame(0x09, 0x80) + Read(4, 0x34) + Read(5, 0x12), 0x1234},
      {"write word", [] { return Ec::WriteWordData(0x5C, 0x07, 0xBEEF); },
       Write(2, 0x5C) + Write(3, 0x07) + Write(4, 0xEF) + Write(5, 0xBE) + Frame(0x08, 0x80), 0},
      {"block read", [] { return Ec::BlockRead(0x89, 0x05, gBlock, &gCount); },
       Write(2, 0x89) + Write(3, 0x05) + Frame(0x0B, 0x80) + Read(0x24, 0x03) +
           Blocks(4, {0x11, 0x22, 0x33}, true),
       3},
      {"block write", [&] { return Ec::BlockWrite(0x88, 0x12, block, 3); },
       Write(2, 0x88) + Write(3, 0x12) + Blocks(4, {0xA1, 0xB2, 0xC3}, false) + Write(0x24, 3) +
           Frame(0x0A, 0x80),
       0},
  };
  for (const Primitive& c : cases) {
    recording_.ClearLog();
    Script(c.expected);
    gByte = 0, gWord = 0, gCount = 0;
    EXPECT_EQ(c.call(), kResultSuccess) << c.name;
    EXPECT_EQ(Log(), c.expected) << c.name;
    EXPECT_EQ(gByte | gWord | gCount, c.out) << c.name;
  }
  EXPECT_EQ(std::vector<UCHAR>(gBlock, gBlock + 3), (std::vector<UCHAR>{0x11, 0x22, 0x33}));
}

// --- events pending at a register access ----------------------------------

TEST_F(EcHostPorts, PendingEventsAreQueriedAndDiscardedBeforeTheAccesssOwnCommand) {
  for (const std::vector<uint8_t>& events : {std::vector<uint8_t>{0x11}, {0x11, 0x22}}) {
    recording_.ClearLog();
    Script(Write(0x03, 0x44, events) + Read(0x24, 0x07, events));
    UCHAR value = 0;
    EXPECT_EQ(Ec::EcWriteRegister(0x03, 0x44), kResultSuccess);
    EXPECT_EQ(Ec::EcReadRegister(0x24, &value), kResultSuccess);
    EXPECT_EQ(value, 0x07);
    EXPECT_EQ(Log(), Write(0x03, 0x44, events) + Read(0x24, 0x07, events)) << events.size();
  }
}

// --- the wait for empty buffers before a command ---------------------------

TEST_F(EcHostPorts, ReadRegisterIgnoresOneReadAfterEachFullValueWriteRegisterDoesNot) {
  // Each full value is followed by a read showing empty, to be ignored by a read.
  const Sequence busy = {In8(kCmd, 0x02), In8(kCmd, 0x00), In8(kCmd, 0x01), In8(kCmd, 0x00)};
  const Sequence readTail = {Out8(kCmd, 0x80), In8(kCmd, 0x00), Out8(kData, 0x01), In8(kCmd, 0x01),
                             In8(kData, 0x80)};
  const Sequence readExpected = Drain() + busy + Sequence{In8(kCmd, 0x00)} + readTail;
  Script(readExpected);
  UCHAR value = 0;
  EXPECT_EQ(Ec::EcReadRegister(0x01, &value), kResultSuccess);
  EXPECT_EQ(Log(), readExpected);

  recording_.ClearLog();
  const Sequence writeExpected =
      Drain() + Sequence{In8(kCmd, 0x02),   In8(kCmd, 0x00), Out8(kCmd, 0x81),  In8(kCmd, 0x00),
                         Out8(kData, 0x01), In8(kCmd, 0x00), Out8(kData, 0x02), In8(kCmd, 0x00)};
  Script(writeExpected);
  EXPECT_EQ(Ec::EcWriteRegister(0x01, 0x02), kResultSuccess);
  EXPECT_EQ(Log(), writeExpected);
}

// --- the status decides ----------------------------------------------------

// Status codes with their results, as the controller's status table gives them.
ResultCode TableResult(unsigned status) {
  const std::map<unsigned, ResultCode> coded = {
      {0x00, 0},  {0x07, 14}, {0x10, 1}, {0x11, 16}, {0x12, 7},  {0x13, 15},
      {0x17, 16}, {0x18, 2},  {0x19, 7}, {0x1A, 8},  {0x1F, 17},
  };
  if (status < 0x20) return coded.count(status) ? coded.at(status) : 0;
  return status < 0x80 ? 14 : 0;
}

TEST_F(EcHostPorts, StatusMapsByTheTableForAll256Values) {
  for (unsigned s = 0; s < 256; ++s)
    EXPECT_EQ(Ec::MapEcStatus(static_cast<UCHAR>(s)), TableResult(s)) << std::hex << s;
  EXPECT_EQ(Log(), Sequence{});
}

TEST_F(EcHostPorts, AnyStatusButExactly80ReadsNoDataAndKeepsTheOutParameter) {
  for (uint8_t status : {0x90, 0x00, 0x81, 0x10, 0x1A, 0x18, 0x40, 0x1F, 0x05}) {
    recording_.ClearLog();
    const Sequence expected = Write(2, 0xA0) + Write(3, 0x00) + Frame(0x0B, status);
    Script(expected);
    UCHAR count = 9;
    EXPECT_EQ(Ec::BlockRead(0xA0, 0x00, gBlock, &count), TableResult(status)) << int(status);
    EXPECT_EQ(count, TableResult(status) == 0 ? 0 : 9) << int(status);  // nothing read
    EXPECT_EQ(Log(), expected) << int(status);

    recording_.ClearLog();
    Script(Write(2, 0xA0) + Frame(0x05, status));
    UCHAR byte = 0xAB;
    EXPECT_EQ(Ec::ReceiveByte(0xA0, &byte), TableResult(status));
    EXPECT_EQ(byte, 0xAB);
    EXPECT_EQ(Log(), Write(2, 0xA0) + Frame(0x05, status));
  }
}

TEST_F(EcHostPorts, EventThatNeverComesIsWaitedFor10001ReadsAndTheStatusStillDecides) {
  const Sequence expected =
      Write(2, 0xA0) + Write(0x00, 0x05) + Sequence(kLimit, In8(kCmd, 0x00)) + Read(0x01, 0x00);
  Script(expected);
  UCHAR byte = 0xAB;
  EXPECT_EQ(Ec::ReceiveByte(0xA0, &byte), kResultSuccess);
  EXPECT_EQ(byte, 0xAB);
  EXPECT_EQ(Log(), expected);
}

// --- block lengths -----------------------------------------------------------

TEST_F(EcHostPorts, BlockCountRegisterKeepsItsLowFiveBitsAndZeroMeans32) {
  for (const auto& [reg, length] : std::vector<std::pair<uint8_t, size_t>>{
           {0x00, 32}, {0x25, 5}, {0xE3, 3}, {0x1F, 31}, {0x20, 32}}) {
    recording_.ClearLog();
    std::vector<uint8_t> data(length);
    for (size_t i = 0; i < length; ++i)
      data[i] = static_cast<uint8_t>(0xC0 + i);
    const Sequence expected = Write(2, 0x89) + Write(3, 0x01) + Frame(0x0B, 0x80) +
                              Read(0x24, reg) + Blocks(4, data, true);
    Script(expected);
    UCHAR count = 0;
    EXPECT_EQ(Ec::BlockRead(0x89, 0x01, gBlock, &count), kResultSuccess);
    EXPECT_EQ(count, length);
    EXPECT_EQ(Log(), expected) << int(reg);
  }
}

TEST_F(EcHostPorts, BlockWriteOf32WritesZeroCountAndOf0Or33TouchesNoPort) {
  for (UCHAR count : {0, 33, 255}) {
    EXPECT_EQ(Ec::BlockWrite(0x88, 0x00, gBlock, count), kResultFailed) << int(count);
  }
  EXPECT_EQ(Log(), Sequence{});
  std::vector<uint8_t> data(32);
  for (UCHAR i = 0; i < 32; ++i)
    gBlock[i] = data[i] = static_cast<uint8_t>(0x40 + i);
  const Sequence expected = Write(2, 0x88) + Write(3, 0x0F) + Blocks(4, data, false) +
                            Write(0x24, 0x00) + Frame(0x0A, 0x80);
  Script(expected);
  EXPECT_EQ(Ec::BlockWrite(0x88, 0x0F, gBlock, 32), kResultSuccess);
  EXPECT_EQ(Log(), expected);
}

// --- bounded waits: result 2 and not one access more ------------------------

TEST_F(EcHostPorts, EachHandshakeWaitGivesUpAfter10001ReadsWithTimeoutAndNoFurtherAccess) {
  const Sequence query = {Out8(kCmd, 0x84), In8(kCmd, 0x21), In8(kData, 0x00)};
  const Sequence stuckEvent =
      Sequence{In8(kCmd, 0x20)} + Repeat(query + Sequence{In8(kCmd, 0x20)}, kLimit - 1);
  const struct {
    const char* name;
    Sequence expected;
  } cases[] = {
      {"input full before the command", Drain() + Sequence(kLimit, In8(kCmd, 0x02))},
      {"output full before the command", Drain() + Sequence(kLimit, In8(kCmd, 0x01))},
      {"input full after the command",
       Drain() + Sequence{In8(kCmd, 0x00), Out8(kCmd, 0x81)} + Sequence(kLimit, In8(kCmd, 0x0A))},
      {"input full after the value",
       Drain() +
           Sequence{In8(kCmd, 0x00), Out8(kCmd, 0x81), In8(kCmd, 0x00), Out8(kData, 0x02),
                    In8(kCmd, 0x00), Out8(kData, 0xA0)} +
           Sequence(kLimit, In8(kCmd, 0x02))},
      {"event flag stuck", stuckEvent},
      {"event byte never comes",
       Sequence{In8(kCmd, 0x20), Out8(kCmd, 0x84)} + Sequence(kLimit, In8(kCmd, 0x20))},
  };
  for (const auto& c : cases) {
    recording_.ClearLog();
    Script(c.expected);
    EXPECT_EQ(Ec::SendByte(0xA0, 0x01), kResultTimeout) << c.name;
    EXPECT_EQ(Log(), c.expected) << c.name;
  }
}

TEST_F(EcHostPorts, ReadRegisterWaitsGiveUpAfter10001ReadsIgnoredOnesIncluded) {
  const Sequence start = Write(2, 0xA0) + Read(2, 0xA0) + Write(3, 0x10);
  const Sequence cases[] = {
      // Full values tested and ignored ones, 10001 reads in all.
      Drain() + Sequence(kLimit, In8(kCmd, 0x03)),
      Drain() + Sequence{In8(kCmd, 0x00), Out8(kCmd, 0x80), In8(kCmd, 0x00), Out8(kData, 0x03)} +
          Sequence(kLimit, In8(kCmd, 0x00)),
  };
  for (const Sequence& tail : cases) {
    recording_.ClearLog();
    Script(start + tail);
    UCHAR byte = 0xAB;
    EXPECT_EQ(Ec::ReadByteData(0xA0, 0x10, &byte), kResultTimeout);
    EXPECT_EQ(byte, 0xAB);
    EXPECT_EQ(Log(), start + tail);
  }
}

}  // namespace
}  // namespace omzi2c::testing
