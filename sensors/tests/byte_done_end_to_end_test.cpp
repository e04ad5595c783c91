// Every SMBus control code on Chipset 2 and 3, from the I/O manager's entry
// through the byte-done back-end to the host model and its devices.
#include <gtest/gtest.h>

#include <vector>

#include "ntemu/event.h"
#include "support/byte_done_board.h"
#include "support/driver_harness.h"

namespace omzi2c::testing {
namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kEeprom = kEepromAddress.AddressByte();
const uint8_t kSensor = kSensorAddress.AddressByte();
const uint8_t kBlocks = kBlockAddress.AddressByte();
const uint8_t kAbsent = kAbsentAddress.AddressByte();

class ByteDoneEndToEnd : public ByteDoneBoardTest, public ::testing::WithParamInterface<int32_t> {
 protected:
  ByteDoneEndToEnd() : harness_(false, true, GetParam(), kByteDoneBase) {
    for (int i = 0; i < 256; ++i) {
      board_.eeprom.Set(static_cast<uint8_t>(i), static_cast<uint8_t>(i + 0x30));
    }
    board_.sensor.SetRegister(0, 0x1A2B);
    board_.blocks.SetBlock(0x10, {0xB0, 0xB1, 0xB2, 0xB3, 0xB4});
  }

  // Every request: a proper completion and the bus event back where it was.
  Reply Request(uint32_t code, const Bytes& input, uint32_t out) {
    const Reply reply = harness_.Ioctl(code, input, out);
    EXPECT_TRUE(reply.io.completed);
    EXPECT_FALSE(reply.io.driverFault);
    EXPECT_EQ(harness_.EventWaits(), harness_.EventSets());
    EXPECT_TRUE(ntemu::IsSignalled(harness_.BusEvent()));
    return reply;
  }
  static Bytes Head(const Reply& reply, size_t n) {
    return Bytes(reply.bytes.begin(), reply.bytes.begin() + n);
  }
  static Bytes Block(uint8_t address, uint8_t command, uint8_t count, Bytes data = {}) {
    Bytes record = SmbRecord(address, command, count, {}, kSmbBlockRecordLength);
    std::copy(data.begin(), data.end(), record.begin() + kSmbDataOffset);
    return record;
  }
  // The two-byte error reply, in the system buffer: a failure status keeps
  // it from the caller.
  void ExpectErrorReply(const Reply& reply, ResultCode result, uint32_t status) {
    EXPECT_EQ(reply.io.status, static_cast<NTSTATUS>(status));
    EXPECT_EQ(reply.io.information, kSmbErrorReplyLength);
    EXPECT_EQ(reply.io.bytesReturned, 0u);
    ASSERT_GE(reply.io.systemBuffer.size(), kSmbErrorReplyLength);
    EXPECT_EQ(reply.io.systemBuffer[0], static_cast<uint8_t>(result));
    EXPECT_EQ(reply.io.systemBuffer[1], Controller.LastHostStatus);
  }
  board::ByteDoneFaults& Faults() { return board_.host.Faults(); }

  DriverHarness harness_;
};

// --- data through every code ----------------------------------------------

TEST_P(ByteDoneEndToEnd, ReceiveBytesContinuesWhereSendBytesLeftThePointer) {
  Reply sent = Request(kIoctlSendBytes, SmbRecord(kEeprom, 0, 1, {0x40}), 0);
  EXPECT_EQ(sent.io.status, STATUS_SUCCESS);
  EXPECT_EQ(sent.io.information, 0u);
  const Reply got = Request(kIoctlReceiveBytes, SmbRecord(kEeprom, 0, 3), 4);
  EXPECT_EQ(got.io.status, STATUS_SUCCESS);
  EXPECT_EQ(got.io.information, 4u);  // the output length
  EXPECT_EQ(got.bytes, (Bytes{0x70, 0x71, 0x72, 0x00}));
}

TEST_P(ByteDoneEndToEnd, ReadWithCommandReadsBytesAndWords) {
  Reply bytes = Request(kIoctlReadWithCommand, SmbRecord(kEeprom, 0x20, 4), 4);
  EXPECT_EQ(bytes.io.status, STATUS_SUCCESS);
  EXPECT_EQ(bytes.io.information, 4u);
  EXPECT_EQ(bytes.bytes, (Bytes{0x50, 0x51, 0x52, 0x53}));
  Reply word = Request(kIoctlReadWithCommand, SmbRecord(kSensor, 0x00, 2), 3);
  EXPECT_EQ(word.io.status, STATUS_SUCCESS);
  EXPECT_EQ(word.io.information, 3u);
  EXPECT_EQ(word.bytes, (Bytes{0x2B, 0x1A, 0x00}));
}

TEST_P(ByteDoneEndToEnd, WriteWithCommandWritesBytesWrappingTheCommandAndWords) {
  Reply bytes = Request(kIoctlWriteWithCommand, SmbRecord(kEeprom, 0xFE, 3, {1, 2, 3}, 14), 0);
  EXPECT_EQ(bytes.io.status, STATUS_SUCCESS);
  EXPECT_EQ(bytes.io.information, 0u);
  EXPECT_EQ(board_.eeprom.At(0xFE), 1);
  EXPECT_EQ(board_.eeprom.At(0xFF), 2);
  EXPECT_EQ(board_.eeprom.At(0x00), 3);
  Reply word = Request(kIoctlWriteWithCommand, SmbRecord(kSensor, 0x05, 2, {0xCD, 0xAB}, 13), 0);
  EXPECT_EQ(word.io.status, STATUS_SUCCESS);
  EXPECT_EQ(board_.sensor.Register(5), 0xABCD);
}

TEST_P(ByteDoneEndToEnd, BlockReadAnswersTheDevicesCount) {
  const Reply reply = Request(kIoctlBlockRead, Block(kBlocks, 0x10, 0), 40);
  EXPECT_EQ(reply.io.status, STATUS_SUCCESS);
  EXPECT_EQ(reply.io.information, 5u);
  EXPECT_EQ(reply.io.bytesReturned, 5u);
  EXPECT_EQ(Head(reply, 6),
            (Bytes{0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xEE}));  // only the count returned
}

TEST_P(ByteDoneEndToEnd, BlockReadLongerThanTheOutputIsCutWithBufferOverflow) {
  const Reply reply = Request(kIoctlBlockRead, Block(kBlocks, 0x10, 0), 3);
  EXPECT_EQ(reply.io.status, static_cast<NTSTATUS>(kStatusBufferOverflow));
  EXPECT_EQ(reply.io.information, 3u);
  EXPECT_EQ(reply.bytes, (Bytes{0xB0, 0xB1, 0xB2}));
}

TEST_P(ByteDoneEndToEnd, BlockWriteStoresTheBlockAndCutsItTo32) {
  Reply four = Request(kIoctlBlockWrite, Block(kBlocks, 0x20, 4, {9, 8, 7, 6}), 0);
  EXPECT_EQ(four.io.status, STATUS_SUCCESS);
  EXPECT_EQ(four.io.information, 0u);
  EXPECT_EQ(board_.blocks.Block(0x20), (Bytes{9, 8, 7, 6}));
  Bytes full(32);
  for (uint8_t i = 0; i < 32; ++i)
    full[i] = static_cast<uint8_t>(0x80 + i);
  Reply cut = Request(kIoctlBlockWrite, Block(kBlocks, 0x21, 40, full), 0);
  EXPECT_EQ(cut.io.status, STATUS_SUCCESS);
  EXPECT_EQ(board_.blocks.Block(0x21), full);
}

TEST_P(ByteDoneEndToEnd, BlockWriteOfNothingSucceedsWithoutATransaction) {
  const Reply reply = Request(kIoctlBlockWrite, Block(kBlocks, 0x22, 0), 0);
  EXPECT_EQ(reply.io.status, STATUS_SUCCESS);
  EXPECT_TRUE(board_.bus.Log().empty());
  EXPECT_EQ(board_.host.State().starts, 0u);
}

TEST_P(ByteDoneEndToEnd, CodesThisHostLacksAnswerNotSupportedWithoutBusActivity) {
  Reply reserved = Request(kIoctlUnsupported, SmbRecord(kEeprom, 0, 1), 0);
  EXPECT_EQ(reserved.io.status, STATUS_NOT_SUPPORTED);
  EXPECT_EQ(reserved.io.information, 0u);
  Controller.LastHostStatus = 0x5A;
  Reply exchange = Request(kIoctlExchangeMessage, Block(kEeprom, 0, 1, {1}), 40);
  ExpectErrorReply(exchange, kResultNotSupported, kStatusNotSupported);
  EXPECT_EQ(exchange.io.systemBuffer[1], 0x5A);
  Reply message = Request(kIoctlWriteMessage, Block(kEeprom, 0, 1, {1}), 0);
  EXPECT_EQ(message.io.status, STATUS_NOT_SUPPORTED);
  EXPECT_EQ(message.io.information, 0u);
  EXPECT_TRUE(recording_.Accesses().empty());
  EXPECT_EQ(harness_.EventWaits(), 2u);  // the reserved code does not take it
}

// --- failures -------------------------------------------------------------

TEST_P(ByteDoneEndToEnd, AbsentDeviceGivesDeviceErrorRepliesForReadsAndStatusForWrites) {
  Controller.LastHostStatus = 0x33;  // left by some earlier request; echoed as it is
  ExpectErrorReply(Request(kIoctlReceiveBytes, SmbRecord(kAbsent, 0, 1), 2), kResultDeviceError,
                   kStatusIoDeviceError);
  ExpectErrorReply(Request(kIoctlReadWithCommand, SmbRecord(kAbsent, 0, 2), 2), kResultDeviceError,
                   kStatusIoDeviceError);
  ExpectErrorReply(Request(kIoctlBlockRead, Block(kAbsent, 0, 0), 40), kResultDeviceError,
                   kStatusIoDeviceError);
  for (const Reply& write : {Request(kIoctlWriteWithCommand, SmbRecord(kAbsent, 0, 1, {1}), 0),
                             Request(kIoctlSendBytes, SmbRecord(kAbsent, 0, 1, {1}), 0),
                             Request(kIoctlBlockWrite, Block(kAbsent, 0, 1, {1}), 0)}) {
    EXPECT_EQ(write.io.status, static_cast<NTSTATUS>(kStatusIoDeviceError));
    EXPECT_EQ(write.io.information, 0u);
  }
}

struct FaultCase {
  const char* name;
  void (*inject)(board::ByteDoneFaults&);
  ResultCode result;
  uint32_t status;
};

class ByteDoneEndToEndFault : public ByteDoneEndToEnd {
 protected:
  void Inject(const FaultCase& fault) { fault.inject(Faults()); }
};

const FaultCase kWordFaults[] = {
    {"InUseStuck", [](board::ByteDoneFaults& f) { f.inUseStuck = true; }, kResultTimeout,
     kStatusTransactionTimedOut},
    {"BusyStuck", [](board::ByteDoneFaults& f) { f.busyStuck = true; }, kResultHostNotReady,
     kStatusTransactionTimedOut},
    {"NeverStarts", [](board::ByteDoneFaults& f) { f.neverStarts = true; }, kResultHostNotReady,
     kStatusTransactionTimedOut},
    {"NeverFinishes", [](board::ByteDoneFaults& f) { f.neverFinishes = true; }, kResultTimeout,
     kStatusTransactionTimedOut},
    {"Alert", [](board::ByteDoneFaults& f) { f.errorFlags = 0x20; }, kResultAlert,
     kStatusIoDeviceError},
    {"Failed", [](board::ByteDoneFaults& f) { f.errorFlags = 0x10; }, kResultFailed,
     kStatusIoDeviceError},
    {"Collision", [](board::ByteDoneFaults& f) { f.errorFlags = 0x08; }, kResultBusError,
     kStatusIoDeviceError},
    {"AlertAndDeviceError", [](board::ByteDoneFaults& f) { f.errorFlags = 0x24; }, kResultAlert,
     kStatusIoDeviceError},
};

TEST_P(ByteDoneEndToEnd, HostFaultsGiveTheirResultsAndStatusesAfterNineAttempts) {
  for (const FaultCase& fault : kWordFaults) {
    SCOPED_TRACE(fault.name);
    Faults() = board::ByteDoneFaults{};
    fault.inject(Faults());
    clock_.ClearPauses();
    ExpectErrorReply(Request(kIoctlReadWithCommand, SmbRecord(kSensor, 0, 2), 2), fault.result,
                     fault.status);
    EXPECT_EQ(clock_.Pauses().size(), 8u);
    Reply write = Request(kIoctlWriteWithCommand, SmbRecord(kSensor, 1, 2, {1, 2}, 13), 0);
    EXPECT_EQ(write.io.status, static_cast<NTSTATUS>(fault.status));
    EXPECT_EQ(write.io.information, 0u);
    // Gone again, the next request goes through.
    Faults() = board::ByteDoneFaults{};
    Reply after = Request(kIoctlReadWithCommand, SmbRecord(kSensor, 0, 2), 2);
    EXPECT_EQ(after.io.status, STATUS_SUCCESS);
    EXPECT_EQ(after.bytes, (Bytes{0x2B, 0x1A}));
  }
}

TEST_P(ByteDoneEndToEnd, BlockFaultsGiveTheirResults) {
  const struct {
    const char* name;
    void (*inject)(board::ByteDoneFaults&);
    ResultCode result;
    uint32_t status;
  } cases[] = {
      {"CountZero", [](board::ByteDoneFaults& f) { f.blockCount = 0; }, kResultDeviceError,
       kStatusIoDeviceError},
      {"Count33", [](board::ByteDoneFaults& f) { f.blockCount = 33; }, kResultDeviceError,
       kStatusIoDeviceError},
      {"ByteDoneNever", [](board::ByteDoneFaults& f) { f.byteDoneNeverAt = 3; },
       kResultHostNotReady, kStatusTransactionTimedOut},
      {"FailedMidway",
       [](board::ByteDoneFaults& f) {
         f.errorFlags = 0x10;
         f.errorAtByte = 1;
       },
       kResultFailed, kStatusIoDeviceError},
      {"CollisionAtStart", [](board::ByteDoneFaults& f) { f.errorFlags = 0x08; }, kResultBusError,
       kStatusIoDeviceError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Faults() = board::ByteDoneFaults{};
    c.inject(Faults());
    ExpectErrorReply(Request(kIoctlBlockRead, Block(kBlocks, 0x10, 0), 40), c.result, c.status);
    Faults() = board::ByteDoneFaults{};
    Reply after = Request(kIoctlBlockRead, Block(kBlocks, 0x10, 0), 40);
    EXPECT_EQ(after.io.status, STATUS_SUCCESS);
    EXPECT_EQ(after.io.information, 5u);
  }
}

TEST_P(ByteDoneEndToEnd, WriteProtectedEepromRefusesWritesWithDeviceError) {
  board_.eeprom.SetWriteProtected(true);
  clock_.ClearPauses();
  Reply write = Request(kIoctlWriteWithCommand, SmbRecord(kEeprom, 0x10, 1, {0xAA}), 0);
  EXPECT_EQ(write.io.status, static_cast<NTSTATUS>(kStatusIoDeviceError));
  EXPECT_EQ(clock_.Pauses().size(), 7u);  // one byte, eight attempts
  EXPECT_EQ(board_.eeprom.At(0x10), 0x40);
  Reply block = Request(kIoctlBlockWrite, Block(kEeprom, 0x10, 2, {1, 2}), 0);
  EXPECT_EQ(block.io.status, static_cast<NTSTATUS>(kStatusIoDeviceError));
}

TEST_P(ByteDoneEndToEnd, ReceiveBytesFailingMidwayReportsOnlyTheErrorReply) {
  board_.bus.Detach(kEepromAddress);
  const Reply reply = Request(kIoctlReceiveBytes, SmbRecord(kEeprom, 0, 3), 3);
  ExpectErrorReply(reply, kResultDeviceError, kStatusIoDeviceError);
  EXPECT_EQ(board_.bus.Log().size(), 8u);
}

INSTANTIATE_TEST_SUITE_P(Chipsets, ByteDoneEndToEnd, ::testing::Values(2, 3));

}  // namespace
}  // namespace omzi2c::testing
