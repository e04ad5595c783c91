// Every SMBus control code on Chipset 1, 8 and 9, from the I/O manager's
// entry through the router and the start-port or dual-status back-end to
// the host models and their devices.
#include <gtest/gtest.h>

#include <algorithm>

#include "ntemu/event.h"
#include "support/driver_harness.h"
#include "support/host_calls.h"
#include "support/register_host_board.h"

namespace omzi2c::testing {
namespace {

const uint8_t kEeprom = kEepromAddress.AddressByte();
const uint8_t kSensor = kSensorAddress.AddressByte();
const uint8_t kBlocks = kBlockAddress.AddressByte();

Bytes BlockRecord(uint8_t address, uint8_t command, uint8_t count, const Bytes& data = {}) {
  Bytes record = SmbRecord(address, command, count, {}, kSmbBlockRecordLength);
  std::copy(data.begin(), data.begin() + std::min<size_t>(data.size(), 32),
            record.begin() + kSmbDataOffset);
  return record;
}

class RegisterHostEndToEnd : public RegisterHostBoardTest {
 public:
  RegisterHostEndToEnd() : harness_(false, true, GetParam(), kRegisterHostBase) {
    for (int i = 0; i < 256; ++i)
      eeprom_.Set(static_cast<uint8_t>(i), static_cast<uint8_t>(i + 0x30));
    sensor_.SetRegister(0, 0x1A2B);
    blocks_.SetBlock(0x10, {0xB0, 0xB1, 0xB2, 0xB3, 0xB4});
  }

  // Every request completes and leaves the bus event as it found it.
  Reply Request(uint32_t code, const Bytes& input, uint32_t out) {
    const Reply reply = harness_.Ioctl(code, input, out);
    EXPECT_TRUE(reply.io.completed);
    EXPECT_EQ(harness_.EventWaits(), harness_.EventSets());
    EXPECT_TRUE(ntemu::IsSignalled(harness_.BusEvent()));
    return reply;
  }
  size_t RetryPauses() const {
    const std::vector<ntemu::Pause> pauses = clock_.Pauses();
    return std::count(pauses.begin(), pauses.end(), ntemu::Sleep100ns(10000));
  }

  DriverHarness harness_;
};

TEST_P(RegisterHostEndToEnd, EveryControlCodeMovesItsData) {
  const Bytes full = Counting(0x80, 40);
  const struct {
    const char* name;
    uint32_t code;
    Bytes input;
    uint32_t out;
    uint32_t status;
    size_t information;
    Bytes reply;  // the first bytes of the caller's output buffer
  } cases[] = {
      {"SendBytes", kIoctlSendBytes, SmbRecord(kEeprom, 0, 1, {0x40}), 0, STATUS_SUCCESS, 0, {}},
      {"ReceiveBytes",
       kIoctlReceiveBytes,
       SmbRecord(kEeprom, 0, 3),
       4,
       STATUS_SUCCESS,
       4,
       {0x70, 0x71, 0x72, 0x00}},
      {"ReadBytes",
       kIoctlReadWithCommand,
       SmbRecord(kEeprom, 0x20, 4),
       4,
       STATUS_SUCCESS,
       4,
       {0x50, 0x51, 0x52, 0x53}},
      {"ReadWord",
       kIoctlReadWithCommand,
       SmbRecord(kSensor, 0, 2),
       2,
       STATUS_SUCCESS,
       2,
       {0x2B, 0x1A}},
      {"WriteBytesWrapping",
       kIoctlWriteWithCommand,
       SmbRecord(kEeprom, 0xFE, 3, {1, 2, 3}, 14),
       0,
       STATUS_SUCCESS,
       0,
       {}},
      {"ReadThemBack",
       kIoctlReadWithCommand,
       SmbRecord(kEeprom, 0xFE, 3),
       3,
       STATUS_SUCCESS,
       3,
       {1, 2, 3}},
      {"WriteWord",
       kIoctlWriteWithCommand,
       SmbRecord(kSensor, 5, 2, {0xCD, 0xAB}, 13),
       0,
       STATUS_SUCCESS,
       0,
       {}},
      {"ReadWordBack",
       kIoctlReadWithCommand,
       SmbRecord(kSensor, 5, 2),
       2,
       STATUS_SUCCESS,
       2,
       {0xCD, 0xAB}},
      {"BlockRead",
       kIoctlBlockRead,
       BlockRecord(kBlocks, 0x10, 0),
       40,
       STATUS_SUCCESS,
       5,
       {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xEE}},
      {"BlockWriteCutTo32",
       kIoctlBlockWrite,
       BlockRecord(kBlocks, 0x21, 40, full),
       0,
       STATUS_SUCCESS,
       0,
       {}},
      {"BlockReadBack", kIoctlBlockRead, BlockRecord(kBlocks, 0x21, 0), 40, STATUS_SUCCESS, 32,
       Counting(0x80, 32)},
      {"Reserved", kIoctlUnsupported, SmbRecord(kEeprom, 0, 1), 0, kStatusNotSupported, 0, {}},
      {"ExchangeMessage",
       kIoctlExchangeMessage,
       BlockRecord(kEeprom, 0, 1, {1}),
       40,
       kStatusNotSupported,
       2,
       {}},
      {"WriteMessage",
       kIoctlWriteMessage,
       BlockRecord(kEeprom, 0, 1, {1}),
       0,
       kStatusNotSupported,
       0,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Reply reply = Request(c.code, c.input, c.out);
    EXPECT_EQ(reply.io.status, static_cast<NTSTATUS>(c.status));
    EXPECT_EQ(reply.io.information, c.information);
    EXPECT_EQ(Bytes(reply.bytes.begin(), reply.bytes.begin() + c.reply.size()), c.reply);
  }
  EXPECT_EQ(eeprom_.At(0xFF), 2);
  EXPECT_EQ(eeprom_.At(0x00), 3);
  EXPECT_TRUE(HostClean());
}

TEST_P(RegisterHostEndToEnd, HostFaultsGiveTheirStatusesAndErrorRepliesAfterNineAttempts) {
  const struct {
    const char* name;
    int chipsets;  // 1: start-port only, 8: dual-status only, 0: both
    void (*inject)(RegisterHostBoardTest&);
    ResultCode result;
    uint32_t status;
  } cases[] = {
      {"BusyStuck", 0,
       [](RegisterHostBoardTest& t) {
         t.DualFaults().busyStuck = t.StartFaults().busyStuck = true;
       },
       kResultTimeout, kStatusTransactionTimedOut},
      {"SecondBusyStuck", 8,
       [](RegisterHostBoardTest& t) { t.DualFaults().secondBusyStuck = true; }, kResultTimeout,
       kStatusTransactionTimedOut},
      {"NeverStarts", 8, [](RegisterHostBoardTest& t) { t.DualFaults().neverStarts = true; },
       kResultHostNotReady, kStatusTransactionTimedOut},
      {"Collision", 8, [](RegisterHostBoardTest& t) { t.DualFaults().errorFlags = 0x08; },
       kResultCollisionOrDeviceError, kStatusIoDeviceError},
      {"Failed", 8, [](RegisterHostBoardTest& t) { t.DualFaults().errorFlags = 0x10; },
       kResultFailed, kStatusIoDeviceError},
      {"NotIdle", 1, [](RegisterHostBoardTest& t) { t.StartFaults().notIdle = true; },
       kResultBusError, kStatusIoDeviceError},
      {"DoneLate", 1,
       [](RegisterHostBoardTest& t) {
         t.start_->SetBusyReads(9000);
         t.start_->SetSettleReads(2001);
       },
       kResultTimeout, kStatusTransactionTimedOut},
      {"Failed", 1, [](RegisterHostBoardTest& t) { t.StartFaults().errorFlags = 0x80; },
       kResultFailed, kStatusIoDeviceError},
      {"NoDevice", 0,
       [](RegisterHostBoardTest& t) {
         t.bus_.Detach(kSensorAddress);
         t.bus_.Detach(kBlockAddress);
       },
       kResultDeviceError, kStatusIoDeviceError},
  };
  const int family = StartPort() ? 1 : 8;
  for (const auto& c : cases) {
    if (c.chipsets != 0 && c.chipsets != family) continue;
    SCOPED_TRACE(c.name);
    c.inject(*this);
    clock_.ClearPauses();
    Controller.LastHostStatus = 0x5A;  // left by an earlier request; echoed as it is
    const Reply read = Request(kIoctlReadWithCommand, SmbRecord(kSensor, 0, 2), 2);
    EXPECT_EQ(read.io.status, static_cast<NTSTATUS>(c.status));
    EXPECT_EQ(read.io.information, kSmbErrorReplyLength);
    EXPECT_EQ(Bytes(read.io.systemBuffer.begin(), read.io.systemBuffer.begin() + 2),
              (Bytes{static_cast<uint8_t>(c.result), 0x5A}));
    EXPECT_EQ(RetryPauses(), 8u);
    const Reply write = Request(kIoctlBlockWrite, BlockRecord(kBlocks, 1, 2, {1, 2}), 0);
    EXPECT_EQ(write.io.status, static_cast<NTSTATUS>(c.status));
    Heal();
    bus_.Attach(kSensorAddress, &sensor_);
    bus_.Attach(kBlockAddress, &blocks_);
    EXPECT_EQ(Request(kIoctlReadWithCommand, SmbRecord(kSensor, 0, 2), 2).bytes,
              (Bytes{0x2B, 0x1A}));
  }
}

INSTANTIATE_TEST_SUITE_P(Chipsets, RegisterHostEndToEnd, ::testing::Values(1, 8, 9));

}  // namespace
}  // namespace omzi2c::testing
