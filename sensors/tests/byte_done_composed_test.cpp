// The composed operations' retry shapes over the byte-done back-end, the
// host model and real devices, with pauses taken from the virtual clock.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "controller_state.h"
#include "hosts/host_contract.h"
#include "ntemu/trace.h"
#include "support/byte_done_board.h"

namespace omzi2c::testing {
namespace {

using board::SmbusProtocol;
using board::SmbusTransaction;
using Bytes = std::vector<uint8_t>;

const ntemu::Pause kRetryPause = ntemu::Sleep100ns(10000);  // 1 ms
constexpr uint32_t kControl = kByteDoneBase + 2;

// An EEPROM that NAKs the transactions whose numbers (from 0) it is given.
class FlakyEeprom : public board::SpdEeprom {
 public:
  std::set<int> nakAt;
  bool failAll = false;

  bool ReceiveByte(uint8_t* byte) override { return Pass() && SpdEeprom::ReceiveByte(byte); }
  bool ReadByte(uint8_t command, uint8_t* byte) override {
    return Pass() && SpdEeprom::ReadByte(command, byte);
  }
  bool WriteByte(uint8_t command, uint8_t byte) override {
    return Pass() && SpdEeprom::WriteByte(command, byte);
  }
  bool ReadWord(uint8_t command, uint8_t (&wire)[2]) override {
    return Pass() && SpdEeprom::ReadWord(command, wire);
  }
  bool WriteWord(uint8_t command, const uint8_t (&wire)[2]) override {
    return Pass() && SpdEeprom::WriteWord(command, wire);
  }
  bool SendByte(uint8_t byte) override { return Pass() && SpdEeprom::SendByte(byte); }

 private:
  bool Pass() { return !failAll && nakAt.count(seen_++) == 0; }
  int seen_ = 0;
};

class ComposedOverByteDone : public ByteDoneBoardTest,
                             public ::testing::WithParamInterface<int32_t> {
 protected:
  ComposedOverByteDone() {
    Controller.Chipset = GetParam();
    board_.bus.Attach(kEepromAddress, &flaky_);
    for (int i = 0; i < 256; ++i)
      flaky_.Set(static_cast<uint8_t>(i), static_cast<uint8_t>(~i));
  }
  // (protocol, command) of each transaction the bus carried.
  std::vector<std::pair<SmbusProtocol, uint8_t>> Carried() const {
    std::vector<std::pair<SmbusProtocol, uint8_t>> carried;
    for (const SmbusTransaction& t : board_.bus.Log())
      carried.push_back({t.protocol, t.command});
    return carried;
  }
  size_t Pauses() const {
    size_t pauses = 0;
    for (const ntemu::Pause& p : clock_.Pauses())
      pauses += p == kRetryPause ? 1 : 0;
    EXPECT_EQ(pauses, clock_.Pauses().size()) << "only retry pauses expected";
    return pauses;
  }

  FlakyEeprom flaky_;
  const UCHAR eeprom_ = kEepromAddress.AddressByte();
};

TEST_P(ComposedOverByteDone, ReceiveBytesTriesEachByteEightTimes) {
  flaky_.failAll = true;
  UCHAR buffer[3] = {0xEE, 0xEE, 0xEE};
  EXPECT_EQ(ReceiveBytes(eeprom_, buffer, 3), kResultDeviceError);
  EXPECT_EQ(board_.bus.Log().size(), 8u);
  EXPECT_EQ(Pauses(), 7u);
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0, 0, 0}));
}

TEST_P(ComposedOverByteDone, ReceiveBytesRetriesOnlyTheFailingByteAndKeepsTheOthers) {
  flaky_.SendByte(0x20);  // pointer to 0x20; the next transaction is number 1
  flaky_.nakAt = {2, 3};  // the second byte fails twice
  UCHAR buffer[3] = {};
  EXPECT_EQ(ReceiveBytes(eeprom_, buffer, 3), kResultSuccess);
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0xDF, 0xDE, 0xDD}));
  EXPECT_EQ(board_.bus.Log().size(), 5u);
  EXPECT_EQ(Pauses(), 2u);
}

TEST_P(ComposedOverByteDone, ReadWithCommandRunsNineAttemptsWithAPauseBetweenEach) {
  flaky_.failAll = true;
  ntemu::Timeline timeline;
  ntemu::ScopedTraceSink trace(&timeline);
  UCHAR buffer[4] = {};
  EXPECT_EQ(ReadWithCommand(eeprom_, 0x10, buffer, 4), kResultDeviceError);
  EXPECT_EQ(Carried(),
            (std::vector<std::pair<SmbusProtocol, uint8_t>>(9, {SmbusProtocol::ReadByte, 0x10})));
  // Starts and pauses alternate: start, pause, start, ..., start.
  std::vector<bool> order;  // true = pause
  for (const ntemu::Timeline::Entry& e : timeline.Entries()) {
    if (e.isPause) {
      EXPECT_EQ(e.pause, kRetryPause);
      order.push_back(true);
    } else if (e.access == ntemu::Out8(kControl, 0x48)) {
      order.push_back(false);
    }
  }
  std::vector<bool> expected;
  for (int i = 0; i < 9; ++i) {
    if (i != 0) expected.push_back(true);
    expected.push_back(false);
  }
  EXPECT_EQ(order, expected);
}

TEST_P(ComposedOverByteDone, ReadWithCommandFailingOnTheThirdByteRestartsFromTheReadByte) {
  flaky_.nakAt = {2};  // read byte, receive, receive (fails)
  UCHAR buffer[4] = {};
  EXPECT_EQ(ReadWithCommand(eeprom_, 0x40, buffer, 4), kResultSuccess);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0xBF, 0xBE, 0xBD, 0xBC}));
  const auto r = SmbusProtocol::ReceiveByte;
  EXPECT_EQ(Carried(),
            (std::vector<std::pair<SmbusProtocol, uint8_t>>{{SmbusProtocol::ReadByte, 0x40},
                                                            {r, 0},
                                                            {r, 0},
                                                            {SmbusProtocol::ReadByte, 0x40},
                                                            {r, 0},
                                                            {r, 0},
                                                            {r, 0}}));
  EXPECT_EQ(Pauses(), 1u);
}

TEST_P(ComposedOverByteDone, ReadWithCommandOfTwoIsOneWordReadLowByteFirst) {
  UCHAR buffer[2] = {};
  EXPECT_EQ(ReadWithCommand(eeprom_, 0x08, buffer, 2), kResultSuccess);
  EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{0xF7, 0xF6}));
  EXPECT_EQ(Carried(),
            (std::vector<std::pair<SmbusProtocol, uint8_t>>{{SmbusProtocol::ReadWord, 0x08}}));
}

TEST_P(ComposedOverByteDone, ReadWithCommandOfZeroStillReadsOneByte) {
  UCHAR buffer[1] = {0xEE};
  EXPECT_EQ(ReadWithCommand(eeprom_, 0x01, buffer, 0), kResultSuccess);
  EXPECT_EQ(buffer[0], 0xFE);
  EXPECT_EQ(board_.bus.Log().size(), 1u);
}

TEST_P(ComposedOverByteDone, WriteWithCommandWrapsTheCommandFrom0xFFTo0x00) {
  const UCHAR data[] = {0x11, 0x22, 0x33};
  EXPECT_EQ(WriteWithCommand(eeprom_, 0xFE, data, 3), kResultSuccess);
  const auto w = SmbusProtocol::WriteByte;
  EXPECT_EQ(Carried(),
            (std::vector<std::pair<SmbusProtocol, uint8_t>>{{w, 0xFE}, {w, 0xFF}, {w, 0x00}}));
  EXPECT_EQ(flaky_.At(0xFE), 0x11);
  EXPECT_EQ(flaky_.At(0xFF), 0x22);
  EXPECT_EQ(flaky_.At(0x00), 0x33);
}

TEST_P(ComposedOverByteDone, WriteWithCommandRetriesAByteAtTheSameCommandUpToEightTimes) {
  const UCHAR data[] = {0x11, 0x22, 0x33};
  flaky_.nakAt = {1, 2};
  EXPECT_EQ(WriteWithCommand(eeprom_, 0x10, data, 3), kResultSuccess);
  const auto w = SmbusProtocol::WriteByte;
  EXPECT_EQ(Carried(), (std::vector<std::pair<SmbusProtocol, uint8_t>>{
                           {w, 0x10}, {w, 0x11}, {w, 0x11}, {w, 0x11}, {w, 0x12}}));
  EXPECT_EQ(Pauses(), 2u);
  board_.bus.ClearLog();
  flaky_.failAll = true;
  EXPECT_EQ(WriteWithCommand(eeprom_, 0x20, data, 3), kResultDeviceError);
  EXPECT_EQ(Carried(), (std::vector<std::pair<SmbusProtocol, uint8_t>>(8, {w, 0x20})));
}

TEST_P(ComposedOverByteDone, WriteWithCommandOfTwoIsOneWordWithNineAttempts) {
  const UCHAR data[] = {0x34, 0x12};
  EXPECT_EQ(WriteWithCommand(eeprom_, 0x50, data, 2), kResultSuccess);
  EXPECT_EQ(flaky_.At(0x50), 0x34);
  EXPECT_EQ(flaky_.At(0x51), 0x12);
  board_.bus.ClearLog();
  flaky_.failAll = true;
  EXPECT_EQ(WriteWithCommand(eeprom_, 0x50, data, 2), kResultDeviceError);
  EXPECT_EQ(Carried(),
            (std::vector<std::pair<SmbusProtocol, uint8_t>>(9, {SmbusProtocol::WriteWord, 0x50})));
  EXPECT_EQ(Pauses(), 8u);
}

TEST_P(ComposedOverByteDone, SendBytesStopsAtTheFirstFailureWithoutRetry) {
  const UCHAR data[] = {0x01, 0x02, 0x03};
  flaky_.nakAt = {1};
  EXPECT_EQ(SendBytes(eeprom_, data, 3), kResultDeviceError);
  EXPECT_EQ(board_.bus.Log().size(), 2u);
  EXPECT_EQ(flaky_.Pointer(), 0x01);
  EXPECT_EQ(Pauses(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Chipsets, ComposedOverByteDone, ::testing::Values(2, 3));

}  // namespace
}  // namespace omzi2c::testing
