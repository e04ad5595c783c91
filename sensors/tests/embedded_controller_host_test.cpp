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
using Bytes = std::vector<uint8_t>;

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
Sequence Drain(const Bytes& events = {}) {
  Sequence s;
  for (uint8_t event : events)
    s = s + Sequence{In8(kCmd, 0x20), Out8(kCmd, 0x84), In8(kCmd, 0x01), In8(kData, event)};
  return s + Sequence{In8(kCmd, 0x00)};
}
// The wait for both buffers empty before the command: `idle` status values.
Sequence Idle(const Bytes& idle) {
  Sequence s;
  for (uint8_t value : idle)
    s.push_back(In8(kCmd, value));
  return s;
}
Sequence Write(uint8_t index, uint8_t value, const Bytes& events = {}, const Bytes& idle = {0}) {
  return Drain(events) + Idle(idle) + Sequence{Out8(kCmd, 0x81),   In8(kCmd, 0x00),
                                               Out8(kData, index), In8(kCmd, 0x00),
                                               Out8(kData, value), In8(kCmd, 0x00)};
}
Sequence Read(uint8_t index, uint8_t value, const Bytes& events = {}, const Bytes& idle = {0}) {
  return Drain(events) + Idle(idle) +
         Sequence{Out8(kCmd, 0x80), In8(kCmd, 0x00), Out8(kData, index), In8(kCmd, 0x01),
                  In8(kData, value)};
}
Sequence Blocks(uint8_t first, const Bytes& values, bool read) {
  Sequence s;
  for (size_t i = 0; i < values.size(); ++i) {
    const uint8_t index = static_cast<uint8_t>(first + i);
    s = s + (read ? Read(index, values[i]) : Write(index, values[i]));
  }
  return s;
}
// Protocol written, the event seen on the second read, the status read.
Sequence Frame(uint8_t protocol, uint8_t status) {
  return Write(0x00, protocol) + Idle({0x00, 0x20}) + Read(0x01, status, {kDoneEvent});
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
  // The controller answers the reads of `expected`, in order; then the
  // driver must have made exactly those accesses.
  void Expect(const Sequence& expected, ResultCode result,
              const std::function<ResultCode()>& call) {
    recording_.ClearLog();
    for (const PortAccess& access : expected)
      if (access.direction == ntemu::Direction::Read) recording_.Queue(access.port, access.value);
    EXPECT_EQ(call(), result);
    EXPECT_EQ(recording_.Accesses(), expected);
  }

  ntemu::RecordingPortSpace recording_;
  ntemu::VirtualClock clock_;
  ntemu::ScopedPortSpace usePorts_{&recording_};
  ntemu::ScopedClock useClock_{&clock_};
  UCHAR byte_ = 0;
  USHORT word_ = 0;
  UCHAR block_[32] = {};
  UCHAR count_ = 0;
};

TEST_F(EcHostPorts, EachPrimitiveWritesItsRegistersProtocolLastAndReadsResultsOnStatus80) {
  const UCHAR data[] = {0xA1, 0xB2, 0xC3};
  const struct {
    std::function<ResultCode()> call;
    Sequence expected;
    uint32_t out;  // the byte, word or count stored
  } cases[] = {
      {[&] { return Ec::ReceiveByte(0xA1, &byte_); },
       Write(2, 0xA1) + Frame(0x05, 0x80) + Read(4, 0x5A), 0x5A},
      {[&] { return Ec::SendByte(0xA0, 0x3C); },
       Write(2, 0xA0) + Write(3, 0x3C) + Frame(0x04, 0x80), 0},
      {[&] { return Ec::ReadByteData(0xA0, 0x10, &byte_); },
       Write(2, 0xA0) + Read(2, 0xA0) + Write(3, 0x10) + Read(3, 0x10) + Frame(0x07, 0x80) +
           Read(4, 0x77),
       0x77},
      {[&] { return Ec::WriteByteData(0xA1, 0x22, 0x99); },
       Write(2, 0xA1) + Write(3, 0x22) + Write(4, 0x99) + Frame(0x06, 0x80), 0},
      {[&] { return Ec::ReadWordData(0x5D, 0x07, &word_); },
       Write(2, 0x5D) + Write(3, 0x07) + Frame(0x09, 0x80) + Read(4, 0x34) + Read(5, 0x12), 0x1234},
      {[&] { return Ec::WriteWordData(0x5C, 0x07, 0xBEEF); },
       Write(2, 0x5C) + Write(3, 0x07) + Write(4, 0xEF) + Write(5, 0xBE) + Frame(0x08, 0x80), 0},
      {[&] { return Ec::BlockRead(0x89, 0x05, block_, &count_); },
       Write(2, 0x89) + Write(3, 0x05) + Frame(0x0B, 0x80) + Read(0x24, 0x03) +
           Blocks(4, {0x11, 0x22, 0x33}, true),
       3},
      {[&] { return Ec::BlockWrite(0x88, 0x12, data, 3); },
       Write(2, 0x88) + Write(3, 0x12) + Blocks(4, {0xA1, 0xB2, 0xC3}, false) + Write(0x24, 3) +
           Frame(0x0A, 0x80),
       0},
  };
  for (const auto& c : cases) {
    byte_ = 0, word_ = 0, count_ = 0;
    Expect(c.expected, kResultSuccess, c.call);
    EXPECT_EQ(byte_ | word_ | count_, c.out);
  }
  EXPECT_EQ(Bytes(block_, block_ + 3), (Bytes{0x11, 0x22, 0x33}));
}

TEST_F(EcHostPorts, PendingEventsAreDrainedAndReadRegisterIgnoresTheReadAfterAFullValue) {
  for (const Bytes& events : {Bytes{0x11}, Bytes{0x11, 0x22}}) {
    Expect(Write(0x03, 0x44, events), 0, [] { return Ec::EcWriteRegister(0x03, 0x44); });
    Expect(Read(0x24, 0x07, events), 0, [&] { return Ec::EcReadRegister(0x24, &byte_); });
    EXPECT_EQ(byte_, 0x07);
  }
  // A value showing a full buffer, then one that would pass but is not looked at.
  const Bytes busy = {0x02, 0x00, 0x01, 0x00, 0x00};
  Expect(Read(0x01, 0x80, {}, busy), 0, [&] { return Ec::EcReadRegister(0x01, &byte_); });
  Expect(Write(0x01, 0x02, {}, {0x02, 0x00}), 0, [] { return Ec::EcWriteRegister(0x01, 0x02); });
}

// Results of the status values: 0x80 alone is success, 0x00 a transaction
// that never finished; any other value fails by its status code, the low
// seven bits, as the controller's table of codes gives them (15 for a code
// without a meaning).
ResultCode TableResult(unsigned status) {
  const std::map<unsigned, ResultCode> coded = {
      {0x07, 14}, {0x10, 1}, {0x11, 16}, {0x12, 7}, {0x13, 15},
      {0x17, 16}, {0x18, 2}, {0x19, 7},  {0x1A, 8}, {0x1F, 17},
  };
  if (status == 0x80) return 0;
  if (status == 0x00) return 2;
  const unsigned code = status & 0x7F;
  if (code >= 0x20) return 14;
  return coded.count(code) ? coded.at(code) : 15;
}

TEST_F(EcHostPorts, StatusMapsByTheTableForAll256Values) {
  for (unsigned s = 0; s < 256; ++s)
    EXPECT_EQ(Ec::MapEcStatus(static_cast<UCHAR>(s)), TableResult(s)) << std::hex << s;
}

TEST_F(EcHostPorts, AnyStatusButExactly80FailsReadsNoDataAndKeepsTheOutParameter) {
  for (uint8_t status : {0x90, 0x00, 0x81, 0x10, 0x40, 0xC0}) {
    byte_ = 0xAB;
    Expect(Write(2, 0xA0) + Frame(0x05, status), TableResult(status),
           [&] { return Ec::ReceiveByte(0xA0, &byte_); });
    EXPECT_EQ(byte_, 0xAB);
    count_ = 9;
    Expect(Write(2, 0xA0) + Write(3, 0x00) + Frame(0x0B, status), TableResult(status),
           [&] { return Ec::BlockRead(0xA0, 0x00, block_, &count_); });
    EXPECT_EQ(count_, 9);  // no block read, none reported
  }
  // The event wait gives up quietly after 10001 reads; the status, still
  // 0x00, says the transaction never finished.
  Expect(Write(2, 0xA0) + Write(0x00, 0x05) + Sequence(kLimit, In8(kCmd, 0x00)) + Read(1, 0x00),
         kResultTimeout, [&] { return Ec::ReceiveByte(0xA0, &byte_); });
  EXPECT_EQ(byte_, 0xAB);
}

TEST_F(EcHostPorts, BlockCountsOfFiveBitsZeroMeaning32AndBlockWritesOf1To32Only) {
  for (const auto& [reg, length] :
       std::vector<std::pair<uint8_t, size_t>>{{0x00, 32}, {0x25, 5}, {0xE3, 3}}) {
    Bytes data(length);
    for (size_t i = 0; i < length; ++i)
      data[i] = static_cast<uint8_t>(0xC0 + i);
    Expect(Write(2, 0x89) + Write(3, 0x01) + Frame(0x0B, 0x80) + Read(0x24, reg) +
               Blocks(4, data, true),
           kResultSuccess, [&] { return Ec::BlockRead(0x89, 0x01, block_, &count_); });
    EXPECT_EQ(count_, length);
  }
  for (UCHAR count : {0, 33, 255})
    Expect({}, kResultFailed, [&] { return Ec::BlockWrite(0x88, 0x00, block_, count); });
  Bytes data(32);
  for (UCHAR i = 0; i < 32; ++i)
    block_[i] = data[i] = static_cast<uint8_t>(0x40 + i);
  Expect(Write(2, 0x88) + Write(3, 0x0F) + Blocks(4, data, false) + Write(0x24, 0x00) +
             Frame(0x0A, 0x80),
         kResultSuccess, [&] { return Ec::BlockWrite(0x88, 0x0F, block_, 32); });
}

TEST_F(EcHostPorts, EachHandshakeWaitGivesUpAfter10001ReadsWithTimeoutAndNoFurtherAccess) {
  const Sequence query = {Out8(kCmd, 0x84), In8(kCmd, 0x21), In8(kData, 0x00), In8(kCmd, 0x20)};
  const Sequence slowQuery = Sequence{Out8(kCmd, 0x84)} + Sequence(100, In8(kCmd, 0x20)) +
                             Sequence{In8(kCmd, 0x21), In8(kData, 0x00), In8(kCmd, 0x20)};
  const Sequence wrote = Write(2, 0xA0);
  const Sequence cases[] = {
      // Before the command: input full, or output full (tested and ignored reads alike).
      Drain() + Sequence(kLimit, In8(kCmd, 0x02)),
      wrote + Drain() + Sequence(kLimit, In8(kCmd, 0x03)),
      // After the command, the index, the value.
      Drain() + Idle({0}) + Sequence{Out8(kCmd, 0x81)} + Sequence(kLimit, In8(kCmd, 0x0A)),
      Drain() + Idle({0}) +
          Sequence{Out8(kCmd, 0x81), In8(kCmd, 0x00), Out8(kData, 0x02), In8(kCmd, 0x00),
                   Out8(kData, 0xA0)} +
          Sequence(kLimit, In8(kCmd, 0x02)),
      // The value read never comes.
      wrote + Drain() + Idle({0}) + Sequence{Out8(kCmd, 0x80), In8(kCmd, 0x00), Out8(kData, 0x02)} +
          Sequence(kLimit, In8(kCmd, 0x00)),
      // The event flag stays set: the drain queries no more once it has made
      // 10001 status reads in all, events answered at once or slowly; an
      // event byte that never comes.
      Sequence{In8(kCmd, 0x20)} + Repeat(query, (kLimit - 1) / 2),
      Sequence{In8(kCmd, 0x20)} + Repeat(slowQuery, (kLimit - 1) / 102 + 1),
      Sequence{In8(kCmd, 0x20), Out8(kCmd, 0x84)} + Sequence(kLimit, In8(kCmd, 0x20)),
  };
  for (const Sequence& expected : cases) {
    byte_ = 0xAB;
    Expect(expected, kResultTimeout, [&] { return Ec::ReadByteData(0xA0, 0x10, &byte_); });
    EXPECT_EQ(byte_, 0xAB);
  }
}

}  // namespace
}  // namespace omzi2c::testing
