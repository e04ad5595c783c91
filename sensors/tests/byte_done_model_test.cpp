// The byte-done host model on its own registers, and every failure path of
// the byte-done back-end reached through the model's fault injection.
#include <gtest/gtest.h>

#include <vector>

#include "hosts/byte_done_host.h"
#include "support/byte_done_board.h"

namespace omzi2c::testing {
namespace {

using board::ByteDonePhase;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kStatus = kByteDoneBase + 0;
constexpr uint32_t kControl = kByteDoneBase + 2;
constexpr uint32_t kCommand = kByteDoneBase + 3;
constexpr uint32_t kAddress = kByteDoneBase + 4;
constexpr uint32_t kData0 = kByteDoneBase + 5;
constexpr uint32_t kBlockData = kByteDoneBase + 7;

const UCHAR kEeprom = kEepromAddress.AddressByte();
const UCHAR kSensor = kSensorAddress.AddressByte();
const UCHAR kBlocks = kBlockAddress.AddressByte();
const UCHAR kAbsent = kAbsentAddress.AddressByte();

class ByteDoneModel : public ByteDoneBoardTest {
 protected:
  uint8_t In(uint32_t port) {
    return static_cast<uint8_t>(recording_.Read(port, ntemu::Width::Byte));
  }
  void Out(uint32_t port, uint8_t value) { recording_.Write(port, ntemu::Width::Byte, value); }
  board::ByteDoneFaults& Faults() { return board_.host.Faults(); }
  const board::ByteDoneState& Host() const { return board_.host.State(); }
  // The host after a primitive: idle, in use released, no flag left.
  void ExpectHostClean() {
    EXPECT_EQ(Host().phase, ByteDonePhase::Idle);
    EXPECT_FALSE(Host().inUse);
    EXPECT_EQ(Host().status, 0);
  }
};

// --- register semantics ---------------------------------------------------

TEST_F(ByteDoneModel, StartBitReadsBackZeroAndBusyLastsTheConfiguredReads) {
  board_.eeprom.Set(0x07, 0x3C);
  board_.host.SetBusyReads(3);
  Out(kAddress, kEeprom | 1);
  Out(kCommand, 0x07);
  Out(kControl, 0x48);
  EXPECT_EQ(In(kControl), 0x08);
  EXPECT_EQ(In(kStatus), 0x01);  // in use was free: this read claims it
  EXPECT_EQ(In(kStatus), 0x41);
  EXPECT_EQ(In(kStatus), 0x41);
  EXPECT_EQ(In(kStatus), 0x42);
  EXPECT_EQ(In(kData0), 0x3C);
}

TEST_F(ByteDoneModel, DataIsNotThereBeforeTheHostHasFinished) {
  board_.eeprom.Set(0x07, 0x3C);
  for (uint32_t busyReads : {0u, 2u}) {
    Out(kData0, 0x00);
    board_.host.SetBusyReads(busyReads);
    Out(kAddress, kEeprom | 1);
    Out(kCommand, 0x07);
    Out(kControl, 0x48);
    // A driver that takes one look at the status and goes on.
    const uint8_t status = In(kStatus);
    EXPECT_EQ((status & 0x01) != 0, busyReads != 0);
    EXPECT_EQ(In(kData0), busyReads == 0 ? 0x3C : 0x00);
    while (In(kStatus) & 0x01) {
    }
    Out(kStatus, 0xFF);
  }
}

TEST_F(ByteDoneModel, StatusFlagsClearByWritingOneAndBusyIsReadOnly) {
  Faults().errorFlags = 0x0C;
  board_.host.SetBusyReads(0);
  Out(kControl, 0x44);
  EXPECT_EQ(In(kStatus), 0x0E);
  Out(kStatus, 0x00);
  EXPECT_EQ(In(kStatus), 0x4E);
  Out(kStatus, 0x04);
  EXPECT_EQ(In(kStatus), 0x4A);
  Faults().busyStuck = true;
  Out(kStatus, 0x01);
  EXPECT_EQ(In(kStatus), 0x4B);
}

TEST_F(ByteDoneModel, InUseIsClaimedByTheReadThatFindsItFreeAndReleasedByWritingIt) {
  EXPECT_EQ(In(kStatus), 0x00);
  EXPECT_EQ(In(kStatus), 0x40);
  Out(kStatus, 0xBF);
  EXPECT_EQ(In(kStatus), 0x40);
  Out(kStatus, 0x40);
  EXPECT_EQ(In(kStatus), 0x00);
  Faults().inUseHeld = true;  // another agent's
  Out(kStatus, 0x40);
  EXPECT_EQ(In(kStatus), 0x00);
  Faults().inUseStuck = true;
  Out(kStatus, 0x40);
  EXPECT_EQ(In(kStatus), 0x40);
}

TEST_F(ByteDoneModel, KillEndsATransactionWithFailedAndBlocksStartsUntilDropped) {
  Faults().neverFinishes = true;
  Out(kControl, 0x48);
  EXPECT_EQ(In(kStatus) & 0x01, 0x01);
  Out(kControl, 0x02);
  EXPECT_EQ(In(kStatus), 0x50);
  Faults().neverFinishes = false;
  Out(kControl, 0x42);  // start with the kill bit set: ignored
  EXPECT_EQ(Host().starts, 1u);
  Out(kControl, 0x00);
  Out(kControl, 0x48);
  EXPECT_EQ(Host().starts, 2u);
}

TEST_F(ByteDoneModel, BlockReadHoldsTheBusUntilLastByteIsSignalled) {
  board_.blocks.SetBlock(0x20, {0xA1, 0xA2});
  Out(kAddress, kBlocks | 1);
  Out(kCommand, 0x20);
  Out(kControl, 0x54);
  while ((In(kStatus) & 0x80) == 0) {
  }
  EXPECT_EQ(In(kData0), 2);
  EXPECT_EQ(In(kBlockData), 0xA1);
  Out(kStatus, 0x80);
  while ((In(kStatus) & 0x80) == 0) {
  }
  EXPECT_EQ(In(kBlockData), 0xA2);
  Out(kStatus, 0x80);
  EXPECT_EQ(In(kStatus), 0x41);  // every byte taken, still busy
  EXPECT_EQ(Host().phase, ByteDonePhase::AwaitLast);
  Out(kControl, 0x20);
  EXPECT_EQ(In(kStatus), 0x42);
}

// --- whole primitives on the model ----------------------------------------

TEST_F(ByteDoneModel, EveryPrimitiveReachesItsDeviceAndLeavesTheHostClean) {
  board_.eeprom.Set(0x10, 0x61);
  board_.eeprom.Set(0x11, 0x62);
  board_.sensor.SetRegister(2, 0x0BB8);
  board_.blocks.SetBlock(0x01, {1, 2, 3, 4, 5});
  UCHAR byte = 0;
  USHORT word = 0;
  UCHAR block[32] = {};
  UCHAR count = 0;
  EXPECT_EQ(ByteDoneHost::ReadByteData(kEeprom, 0x10, &byte), kResultSuccess);
  EXPECT_EQ(byte, 0x61);
  EXPECT_EQ(ByteDoneHost::ReceiveByte(kEeprom, &byte), kResultSuccess);
  EXPECT_EQ(byte, 0x62);
  EXPECT_EQ(ByteDoneHost::SendByte(kEeprom, 0x10), kResultSuccess);
  EXPECT_EQ(board_.eeprom.Pointer(), 0x10);
  EXPECT_EQ(ByteDoneHost::WriteByteData(kEeprom, 0x12, 0x99), kResultSuccess);
  EXPECT_EQ(board_.eeprom.At(0x12), 0x99);
  EXPECT_EQ(ByteDoneHost::ReadWordData(kSensor, 2, &word), kResultSuccess);
  EXPECT_EQ(word, 0x0BB8);
  EXPECT_EQ(ByteDoneHost::WriteWordData(kSensor, 3, 0xFACE), kResultSuccess);
  EXPECT_EQ(board_.sensor.Register(3), 0xFACE);
  EXPECT_EQ(ByteDoneHost::BlockRead(kBlocks, 0x01, block, &count), kResultSuccess);
  EXPECT_EQ(Bytes(block, block + count), (Bytes{1, 2, 3, 4, 5}));
  const UCHAR out[] = {9, 8, 7};
  EXPECT_EQ(ByteDoneHost::BlockWrite(kBlocks, 0x02, out, 3), kResultSuccess);
  EXPECT_EQ(board_.blocks.Block(0x02), (Bytes{9, 8, 7}));
  ExpectHostClean();
  EXPECT_EQ(Host().kills, 0u);
}

TEST_F(ByteDoneModel, FullSizeBlocksTravelBothWays) {
  Bytes full(32);
  for (uint8_t i = 0; i < 32; ++i)
    full[i] = static_cast<uint8_t>(0xC0 + i);
  EXPECT_EQ(ByteDoneHost::BlockWrite(kBlocks, 0x07, full.data(), 32), kResultSuccess);
  UCHAR block[32] = {};
  UCHAR count = 0;
  EXPECT_EQ(ByteDoneHost::BlockRead(kBlocks, 0x07, block, &count), kResultSuccess);
  EXPECT_EQ(Bytes(block, block + count), full);
  ExpectHostClean();
}

// --- failure paths through fault injection --------------------------------

TEST_F(ByteDoneModel, InUseOwnedForGoodGivesTimeoutWithoutStarting) {
  Faults().inUseStuck = true;
  UCHAR byte = 0;
  EXPECT_EQ(ByteDoneHost::ReceiveByte(kEeprom, &byte), kResultTimeout);
  EXPECT_EQ(Host().starts, 0u);
  EXPECT_EQ(Host().kills, 1u);
  EXPECT_TRUE(board_.bus.Log().empty());
}

TEST_F(ByteDoneModel, InUseFreedByTheKillLetsTheTransactionThrough) {
  Faults().inUseHeld = true;
  board_.eeprom.Set(0x00, 0x42);
  UCHAR byte = 0;
  EXPECT_EQ(ByteDoneHost::ReadByteData(kEeprom, 0x00, &byte), kResultSuccess);
  EXPECT_EQ(byte, 0x42);
  EXPECT_EQ(Host().kills, 1u);
  ExpectHostClean();
}

TEST_F(ByteDoneModel, InUseFreedButBusyGivesHostNotReady) {
  Faults().inUseHeld = true;
  Faults().busyStuck = true;
  EXPECT_EQ(ByteDoneHost::SendByte(kEeprom, 0x00), kResultHostNotReady);
  EXPECT_EQ(Host().kills, 2u);
  EXPECT_EQ(Host().starts, 0u);
}

TEST_F(ByteDoneModel, BusyThatNeverClearsGivesHostNotReady) {
  Faults().busyStuck = true;
  EXPECT_EQ(ByteDoneHost::WriteByteData(kEeprom, 0, 0), kResultHostNotReady);
  EXPECT_EQ(Host().starts, 0u);
  EXPECT_FALSE(Host().inUse);  // released by the status clear
}

TEST_F(ByteDoneModel, TransactionThatNeverStartsGivesHostNotReady) {
  Faults().neverStarts = true;
  USHORT word = 0;
  EXPECT_EQ(ByteDoneHost::ReadWordData(kSensor, 0, &word), kResultHostNotReady);
  EXPECT_EQ(Host().starts, 0u);
  EXPECT_EQ(Host().kills, 1u);
  EXPECT_FALSE(Host().inUse);
}

TEST_F(ByteDoneModel, TransactionThatNeverFinishesIsKilledWithTimeoutAndTheNextOneWorks) {
  Faults().neverFinishes = true;
  EXPECT_EQ(ByteDoneHost::WriteWordData(kSensor, 1, 0x1111), kResultTimeout);
  EXPECT_EQ(Host().kills, 1u);
  ExpectHostClean();
  Faults().neverFinishes = false;
  EXPECT_EQ(ByteDoneHost::WriteWordData(kSensor, 1, 0x2222), kResultSuccess);
  EXPECT_EQ(board_.sensor.Register(1), 0x2222);
}

struct InjectedError {
  uint8_t flags;
  ResultCode byteResult;   // byte and word transactions
  ResultCode blockResult;  // block transfers: alert is not looked at there
};

class ByteDoneInjectedError : public ByteDoneModel,
                              public ::testing::WithParamInterface<InjectedError> {};

TEST_P(ByteDoneInjectedError, EndsByteAndWordTransactionsWithItsResult) {
  Faults().errorFlags = GetParam().flags;
  UCHAR byte = 0xEE;
  EXPECT_EQ(ByteDoneHost::ReadByteData(kEeprom, 0, &byte), GetParam().byteResult);
  EXPECT_EQ(byte, 0xEE);
  ExpectHostClean();
  EXPECT_EQ(ByteDoneHost::WriteWordData(kSensor, 0, 1), GetParam().byteResult);
  ExpectHostClean();
}

TEST_P(ByteDoneInjectedError, EndsBlockTransfersAtTheFaultyByteUnlessOnlyAnAlert) {
  board_.blocks.SetBlock(0x01, {1, 2, 3, 4});
  Faults().errorFlags = GetParam().flags;
  Faults().errorAtByte = 2;
  const bool ends = GetParam().blockResult != kResultSuccess;
  UCHAR block[32] = {};
  UCHAR count = 0;
  EXPECT_EQ(ByteDoneHost::BlockRead(kBlocks, 0x01, block, &count), GetParam().blockResult);
  EXPECT_EQ(Bytes(block, block + 4), ends ? (Bytes{1, 2, 0, 0}) : (Bytes{1, 2, 3, 4}));
  ExpectHostClean();
  const UCHAR data[] = {5, 6, 7, 8};
  EXPECT_EQ(ByteDoneHost::BlockWrite(kBlocks, 0x01, data, 4), GetParam().blockResult);
  EXPECT_EQ(board_.blocks.Block(0x01), ends ? (Bytes{1, 2, 3, 4}) : (Bytes{5, 6, 7, 8}));
  ExpectHostClean();
}

INSTANTIATE_TEST_SUITE_P(Flags, ByteDoneInjectedError,
                         ::testing::Values(InjectedError{0x20, kResultAlert, kResultSuccess},
                                           InjectedError{0x10, kResultFailed, kResultFailed},
                                           InjectedError{0x08, kResultBusError, kResultBusError},
                                           InjectedError{0x04, kResultDeviceError,
                                                         kResultDeviceError},
                                           InjectedError{0x24, kResultAlert, kResultDeviceError},
                                           InjectedError{0x18, kResultFailed, kResultFailed},
                                           InjectedError{0x0C, kResultBusError, kResultBusError}));

TEST_F(ByteDoneModel, AbsentDeviceIsADeviceErrorForEveryPrimitive) {
  UCHAR byte = 0;
  USHORT word = 0;
  UCHAR block[32] = {};
  UCHAR count = 0;
  const UCHAR data[] = {1, 2};
  EXPECT_EQ(ByteDoneHost::ReceiveByte(kAbsent, &byte), kResultDeviceError);
  EXPECT_EQ(ByteDoneHost::SendByte(kAbsent, 1), kResultDeviceError);
  EXPECT_EQ(ByteDoneHost::ReadByteData(kAbsent, 0, &byte), kResultDeviceError);
  EXPECT_EQ(ByteDoneHost::WriteByteData(kAbsent, 0, 1), kResultDeviceError);
  EXPECT_EQ(ByteDoneHost::ReadWordData(kAbsent, 0, &word), kResultDeviceError);
  EXPECT_EQ(ByteDoneHost::WriteWordData(kAbsent, 0, 1), kResultDeviceError);
  EXPECT_EQ(ByteDoneHost::BlockRead(kAbsent, 0, block, &count), kResultDeviceError);
  EXPECT_EQ(ByteDoneHost::BlockWrite(kAbsent, 0, data, 2), kResultDeviceError);
  ExpectHostClean();
  EXPECT_EQ(board_.bus.Log().size(), 7u);  // a block write is refused at the address
}

TEST_F(ByteDoneModel, DeviceRefusingTheDataIsADeviceError) {
  board_.eeprom.SetWriteProtected(true);
  EXPECT_EQ(ByteDoneHost::WriteByteData(kEeprom, 0x20, 0x01), kResultDeviceError);
  const UCHAR data[] = {1, 2, 3};
  EXPECT_EQ(ByteDoneHost::BlockWrite(kEeprom, 0x20, data, 3), kResultDeviceError);
  EXPECT_EQ(board_.eeprom.At(0x20), 0xFF);
}

TEST_F(ByteDoneModel, BlockCountsOutOfRangeAreRefusedAndTheNextTransactionRecovers) {
  board_.blocks.SetBlock(0x01, {});
  board_.blocks.SetBlock(0x02, Bytes(33, 0x11));
  board_.blocks.SetBlock(0x03, {1, 2, 3});
  const struct {
    uint8_t command;
    int forced;
    UCHAR count;
  } cases[] = {{0x01, -1, 0}, {0x02, -1, 33}, {0x03, 40, 40}, {0x03, 0, 0}};
  for (const auto& c : cases) {
    Faults().blockCount = c.forced;
    UCHAR block[32] = {};
    UCHAR count = 0xAA;
    EXPECT_EQ(ByteDoneHost::BlockRead(kBlocks, c.command, block, &count), kResultDeviceError);
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(Bytes(block, block + 32), Bytes(32, 0));
    // The host is left mid-transfer; the next WaitIdle spends its budget and kills it.
    Faults().blockCount = -1;
    const uint32_t kills = Host().kills;
    recording_.ClearLog();
    EXPECT_EQ(ByteDoneHost::WriteWordData(kSensor, 0, c.count), kResultSuccess);
    EXPECT_EQ(Host().kills, kills + 1);
    EXPECT_GT(recording_.CountReads(kStatus), 10000u);
    EXPECT_EQ(board_.sensor.Register(0), c.count);
  }
}

TEST_F(ByteDoneModel, ByteDoneThatNeverComesGivesHostNotReady) {
  board_.blocks.SetBlock(0x01, {1, 2, 3, 4});
  for (int at : {0, 2}) {
    Faults().byteDoneNeverAt = at;
    UCHAR block[32] = {};
    UCHAR count = 0;
    EXPECT_EQ(ByteDoneHost::BlockRead(kBlocks, 0x01, block, &count), kResultHostNotReady) << at;
    EXPECT_EQ(block[1], at == 0 ? 0 : 2);
    ExpectHostClean();
    const UCHAR data[] = {9, 9, 9, 9};
    EXPECT_EQ(ByteDoneHost::BlockWrite(kBlocks, 0x05, data, 4), kResultHostNotReady) << at;
    EXPECT_FALSE(board_.blocks.HasBlock(0x05));
    ExpectHostClean();
  }
}

}  // namespace
}  // namespace omzi2c::testing
