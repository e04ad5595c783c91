// The byte-done host back-end, port by port: scripted status answers and the
// exact register accesses the driver makes for them.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "hosts/byte_done_host.h"
#include "support/byte_done_board.h"

namespace omzi2c::testing {
namespace {

using ntemu::In8;
using ntemu::Out8;
using ntemu::PortAccess;

constexpr uint32_t kStatus = kByteDoneBase + 0;
constexpr uint32_t kControl = kByteDoneBase + 2;
constexpr uint32_t kCommand = kByteDoneBase + 3;
constexpr uint32_t kAddress = kByteDoneBase + 4;
constexpr uint32_t kData0 = kByteDoneBase + 5;
constexpr uint32_t kData1 = kByteDoneBase + 6;
constexpr uint32_t kBlockData = kByteDoneBase + 7;
constexpr size_t kBudgetReads = 10001;  // one read plus 10000 re-reads

using Sequence = std::vector<PortAccess>;

Sequence operator+(Sequence a, const Sequence& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Sequence Repeat(const PortAccess& access, size_t times) {
  return Sequence(times, access);
}

// Accesses of a free host passing WaitIdle.
Sequence FreeIdle() {
  return {In8(kStatus, 0x00), In8(kStatus, 0x00), Out8(kStatus, 0xBF)};
}
// WaitDone on a host that shows busy, busy again, then `final`, and whose
// status reads `left` when cleared.
Sequence Done(uint8_t final = 0x02, uint8_t left = 0x42) {
  return {In8(kStatus, 0x01), In8(kStatus, 0x01), In8(kStatus, final), In8(kStatus, left),
          Out8(kStatus, left)};
}
Sequence Kill() {
  return {Out8(kControl, 0x02), Out8(kControl, 0x00)};
}
Sequence Clear(uint8_t value) {
  return {In8(kStatus, value), Out8(kStatus, value)};
}

class ByteDoneHostPorts : public ByteDoneScriptTest {
 protected:
  void Status(std::initializer_list<uint8_t> values) {
    for (uint8_t value : values)
      recording_.Queue(kStatus, value);
  }
  void ScriptFreeIdle() { Status({0x00, 0x00}); }
  void ScriptDone(uint8_t final = 0x02, uint8_t left = 0x42) { Status({0x01, 0x01, final, left}); }
  const Sequence& Log() const { return recording_.Accesses(); }
  // The accesses after the first `skip`.
  Sequence Tail(size_t skip) const { return Sequence(Log().begin() + skip, Log().end()); }
};

// --- byte and word primitives ---------------------------------------------

TEST_F(ByteDoneHostPorts, ReadByteDataProgramsReadAddressCommandAndReadsData0) {
  ScriptFreeIdle();
  ScriptDone();
  recording_.Queue(kData0, 0x5A);
  UCHAR byte = 0;
  EXPECT_EQ(ByteDoneHost::ReadByteData(0xA0, 0x10, &byte), kResultSuccess);
  EXPECT_EQ(byte, 0x5A);
  EXPECT_EQ(Log(), (FreeIdle() +
                    Sequence{Out8(kAddress, 0xA1), Out8(kCommand, 0x10), Out8(kControl, 0x08),
                             Out8(kControl, 0x48)} +
                    Done() + Sequence{In8(kData0, 0x5A)}));
}

TEST_F(ByteDoneHostPorts, WriteByteDataClearsReadBitAndWritesData0BeforeStart) {
  ScriptFreeIdle();
  ScriptDone();
  EXPECT_EQ(ByteDoneHost::WriteByteData(0xA1, 0x22, 0x99), kResultSuccess);
  EXPECT_EQ(Log(), (FreeIdle() +
                    Sequence{Out8(kAddress, 0xA0), Out8(kCommand, 0x22), Out8(kData0, 0x99),
                             Out8(kControl, 0x08), Out8(kControl, 0x48)} +
                    Done()));
}

TEST_F(ByteDoneHostPorts, ReadWordDataTakesData0AsLowAndData1AsHigh) {
  ScriptFreeIdle();
  ScriptDone();
  recording_.Queue(kData0, 0x34);
  recording_.Queue(kData1, 0x12);
  USHORT word = 0;
  EXPECT_EQ(ByteDoneHost::ReadWordData(0x5C, 0x07, &word), kResultSuccess);
  EXPECT_EQ(word, 0x1234);
  EXPECT_EQ(Log(), (FreeIdle() +
                    Sequence{Out8(kAddress, 0x5D), Out8(kCommand, 0x07), Out8(kControl, 0x0C),
                             Out8(kControl, 0x4C)} +
                    Done() + Sequence{In8(kData0, 0x34), In8(kData1, 0x12)}));
}

TEST_F(ByteDoneHostPorts, WriteWordDataWritesLowByteToData0ThenHighToData1) {
  ScriptFreeIdle();
  ScriptDone();
  EXPECT_EQ(ByteDoneHost::WriteWordData(0x5C, 0x07, 0xBEEF), kResultSuccess);
  EXPECT_EQ(Log(), (FreeIdle() +
                    Sequence{Out8(kAddress, 0x5C), Out8(kCommand, 0x07), Out8(kData0, 0xEF),
                             Out8(kData1, 0xBE), Out8(kControl, 0x0C), Out8(kControl, 0x4C)} +
                    Done()));
}

TEST_F(ByteDoneHostPorts, SendByteCarriesItsDataInTheCommandRegister) {
  ScriptFreeIdle();
  ScriptDone();
  EXPECT_EQ(ByteDoneHost::SendByte(0xA1, 0x3C), kResultSuccess);
  EXPECT_EQ(Log(), (FreeIdle() +
                    Sequence{Out8(kAddress, 0xA0), Out8(kCommand, 0x3C), Out8(kControl, 0x04),
                             Out8(kControl, 0x44)} +
                    Done()));
}

TEST_F(ByteDoneHostPorts, ReceiveByteWritesNoCommand) {
  ScriptFreeIdle();
  ScriptDone();
  recording_.Queue(kData0, 0x77);
  UCHAR byte = 0;
  EXPECT_EQ(ByteDoneHost::ReceiveByte(0xA0, &byte), kResultSuccess);
  EXPECT_EQ(byte, 0x77);
  EXPECT_EQ(Log(), (FreeIdle() +
                    Sequence{Out8(kAddress, 0xA1), Out8(kControl, 0x04), Out8(kControl, 0x44)} +
                    Done() + Sequence{In8(kData0, 0x77)}));
}

TEST_F(ByteDoneHostPorts, DoneWithoutBusyIsAcceptedAsStarted) {
  ScriptFreeIdle();
  Status({0x02, 0x02, 0x02, 0x42});
  EXPECT_EQ(ByteDoneHost::SendByte(0xA0, 0x01), kResultSuccess);
  EXPECT_EQ(Tail(7),
            (Sequence{In8(kStatus, 0x02), In8(kStatus, 0x02), In8(kStatus, 0x02)} + Clear(0x42)));
}

// --- WaitIdle -------------------------------------------------------------

TEST_F(ByteDoneHostPorts, InUseThatSurvivesTheKillGivesTimeoutWithNothingProgrammed) {
  recording_.SetDefault(kStatus, 0x40);
  UCHAR byte = 0xAB;
  EXPECT_EQ(ByteDoneHost::ReceiveByte(0xA0, &byte), kResultTimeout);
  EXPECT_EQ(byte, 0xAB);
  EXPECT_EQ(Log(), (Repeat(In8(kStatus, 0x40), kBudgetReads) + Kill() +
                    Sequence{Out8(kStatus, 0x40), In8(kStatus, 0x40)}));
}

TEST_F(ByteDoneHostPorts, InUseFreedByTheKillButBusyGivesHostNotReadyAtOnce) {
  recording_.Queue(kStatus, 0x40, kBudgetReads);
  Status({0x00, 0x01, 0x11});  // freed; busy in the next read; status at the clear
  EXPECT_EQ(ByteDoneHost::SendByte(0xA0, 0x01), kResultHostNotReady);
  EXPECT_EQ(Tail(kBudgetReads),
            (Kill() + Sequence{Out8(kStatus, 0x40), In8(kStatus, 0x00), In8(kStatus, 0x01)} +
             Kill() + Clear(0x11)));
}

TEST_F(ByteDoneHostPorts, InUseFreedByTheKillAndNotBusyGoesAhead) {
  recording_.Queue(kStatus, 0x40, kBudgetReads);
  Status({0x00, 0x40});
  ScriptDone();
  EXPECT_EQ(ByteDoneHost::SendByte(0xA0, 0x01), kResultSuccess);
  EXPECT_EQ(Sequence(Log().begin() + kBudgetReads, Log().begin() + kBudgetReads + 7),
            (Kill() + Sequence{Out8(kStatus, 0x40), In8(kStatus, 0x00), In8(kStatus, 0x40),
                               Out8(kStatus, 0xBF), Out8(kAddress, 0xA0)}));
}

TEST_F(ByteDoneHostPorts, InUseAndBusyShareOneBudget) {
  recording_.Queue(kStatus, 0x40, 5001);  // in use for the first read and 5000 re-reads
  recording_.SetDefault(kStatus, 0x01);   // then busy for good
  EXPECT_EQ(ByteDoneHost::WaitIdle(), kResultHostNotReady);
  // 5001 in use, 1 busy ending phase 1, the phase-2 read, 4999 re-reads left.
  const size_t reads = 5001 + 1 + 1 + 4999;
  ASSERT_EQ(Log().size(), reads + 4);
  EXPECT_EQ(recording_.CountReads(kStatus), reads + 1);
  EXPECT_EQ(Tail(reads), Kill() + Clear(0x01));
}

TEST_F(ByteDoneHostPorts, BusyThatNeverClearsIsKilledAfterTheBudget) {
  recording_.SetDefault(kStatus, 0x01);
  EXPECT_EQ(ByteDoneHost::WaitIdle(), kResultHostNotReady);
  EXPECT_EQ(Log(), Repeat(In8(kStatus, 0x01), 1 + kBudgetReads) + Kill() + Clear(0x01));
}

TEST_F(ByteDoneHostPorts, IdleHostClearsEveryFlagButInUse) {
  Status({0x9E, 0x5E});  // stale flags, in use claimed by the first read
  EXPECT_EQ(ByteDoneHost::WaitIdle(), kResultSuccess);
  EXPECT_EQ(Log(), (Sequence{In8(kStatus, 0x9E), In8(kStatus, 0x5E), Out8(kStatus, 0xBF)}));
}

// --- WaitDone -------------------------------------------------------------

TEST_F(ByteDoneHostPorts, NoStartSeenGivesHostNotReadyAfterTheBudget) {
  ScriptFreeIdle();
  recording_.SetDefault(kStatus, 0x40);
  UCHAR byte = 0;
  EXPECT_EQ(ByteDoneHost::ReadByteData(0xA0, 0x00, &byte), kResultHostNotReady);
  EXPECT_EQ(Tail(7), Repeat(In8(kStatus, 0x40), kBudgetReads) + Kill() + Clear(0x40));
  EXPECT_EQ(recording_.CountReads(kData0), 0u);
}

TEST_F(ByteDoneHostPorts, BusyThatNeverEndsGivesTimeout) {
  ScriptFreeIdle();
  recording_.SetDefault(kStatus, 0x41);
  USHORT word = 0;
  EXPECT_EQ(ByteDoneHost::ReadWordData(0xA0, 0x00, &word), kResultTimeout);
  // Busy seen at once, the read that is ignored, then a full budget for busy to clear.
  EXPECT_EQ(Tail(7), Repeat(In8(kStatus, 0x41), 2 + kBudgetReads) + Kill() + Clear(0x41));
}

struct Priority {
  uint8_t final;
  ResultCode result;
};

class ByteDoneErrorPriority : public ByteDoneHostPorts,
                              public ::testing::WithParamInterface<Priority> {};

TEST_P(ByteDoneErrorPriority, FinalStatusDecidesByAlertFailedCollisionDeviceError) {
  ScriptFreeIdle();
  ScriptDone(GetParam().final, 0x40 | GetParam().final);
  Status({0x50});  // read after the kill: in use is ours, so no extra release
  UCHAR byte = 0xAB;
  EXPECT_EQ(ByteDoneHost::ReadByteData(0xA0, 0x00, &byte), GetParam().result);
  EXPECT_EQ(byte, 0xAB);
  EXPECT_EQ(Tail(7), Done(GetParam().final, 0x40 | GetParam().final) + Kill() + Clear(0x50));
}

INSTANTIATE_TEST_SUITE_P(
    Flags, ByteDoneErrorPriority,
    ::testing::Values(Priority{0x24, kResultAlert}, Priority{0x18, kResultFailed},
                      Priority{0x20, kResultAlert}, Priority{0x10, kResultFailed},
                      Priority{0x08, kResultBusError}, Priority{0x04, kResultDeviceError},
                      Priority{0x0C, kResultBusError}, Priority{0x3C, kResultAlert},
                      Priority{0x16, kResultFailed}));

TEST_F(ByteDoneHostPorts, ErrorReleasesInUseClaimedByTheReadAfterTheKill) {
  ScriptFreeIdle();
  ScriptDone(0x06, 0x46);
  Status({0x10});  // in use was free: this read claimed it
  EXPECT_EQ(ByteDoneHost::SendByte(0xA0, 0x00), kResultDeviceError);
  EXPECT_EQ(Tail(7), (Done(0x06, 0x46) + Kill() + Clear(0x10) + Sequence{Out8(kStatus, 0x40)}));
}

// --- block read -----------------------------------------------------------

TEST_F(ByteDoneHostPorts, BlockReadSignalsLastByteOnlyAfterTheLastByteDoneIsCleared) {
  ScriptFreeIdle();
  Status({0x81, 0x81, 0x81, 0x83, 0x42, 0x42, 0x42});
  recording_.Queue(kData0, 3);
  for (uint8_t byte : {0x11, 0x22, 0x33})
    recording_.Queue(kBlockData, byte);
  UCHAR buffer[32] = {};
  UCHAR count = 0;
  EXPECT_EQ(ByteDoneHost::BlockRead(0x88, 0x05, buffer, &count), kResultSuccess);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::vector<UCHAR>(buffer, buffer + 4), (std::vector<UCHAR>{0x11, 0x22, 0x33, 0x00}));
  EXPECT_EQ(Log(), (FreeIdle() +
                    Sequence{Out8(kAddress, 0x89), Out8(kCommand, 0x05), Out8(kData0, 0x00),
                             Out8(kControl, 0x14), Out8(kControl, 0x54), In8(kStatus, 0x81),
                             In8(kData0, 3),
                             // byte 0
                             In8(kBlockData, 0x11), Out8(kStatus, 0x80), In8(kStatus, 0x81),
                             // byte 1
                             In8(kBlockData, 0x22), Out8(kStatus, 0x80), In8(kStatus, 0x81),
                             // byte 2: cleared, then last byte
                             In8(kBlockData, 0x33), Out8(kStatus, 0x80), Out8(kControl, 0x20),
                             In8(kStatus, 0x83),
                             // the closing byte-done wait, then the clear
                             In8(kStatus, 0x42)} +
                    Clear(0x42)));
}

TEST_F(ByteDoneHostPorts, BlockReadRefusesCountsOfZeroAndAbove32WithNoFurtherAccess) {
  for (UCHAR reported : {0, 33, 255}) {
    recording_.ClearLog();
    ScriptFreeIdle();
    Status({0x81});
    recording_.Queue(kData0, reported);
    UCHAR buffer[32] = {};
    UCHAR count = 7;
    EXPECT_EQ(ByteDoneHost::BlockRead(0x88, 0x00, buffer, &count), kResultDeviceError);
    EXPECT_EQ(count, reported);
    EXPECT_EQ(Tail(8), (Sequence{In8(kStatus, 0x81), In8(kData0, reported)}));
  }
}

TEST_F(ByteDoneHostPorts, BlockReadKeepsBytesReadBeforeAByteDoneTimeout) {
  ScriptFreeIdle();
  Status({0x81});
  recording_.Queue(kData0, 4);
  recording_.Queue(kBlockData, 0xA5);
  recording_.SetDefault(kStatus, 0x01);  // the second byte never comes
  UCHAR buffer[32] = {};
  UCHAR count = 0;
  EXPECT_EQ(ByteDoneHost::BlockRead(0x88, 0x00, buffer, &count), kResultHostNotReady);
  EXPECT_EQ(buffer[0], 0xA5);
  EXPECT_EQ(Tail(Log().size() - 4), Kill() + Clear(0x01));
  EXPECT_EQ(recording_.CountReads(kStatus), 2 + 1 + kBudgetReads + 1);
}

// --- block write ----------------------------------------------------------

TEST_F(ByteDoneHostPorts, BlockWriteStartsWithTheFirstByteAndClearsByteDoneForEachNext) {
  ScriptFreeIdle();
  Status({0x81, 0x81, 0x82, 0x42});
  const UCHAR data[] = {0xA1, 0xB2, 0xC3};
  EXPECT_EQ(ByteDoneHost::BlockWrite(0x89, 0x12, data, 3), kResultSuccess);
  EXPECT_EQ(Log(), (FreeIdle() +
                    Sequence{Out8(kAddress, 0x88), Out8(kCommand, 0x12), Out8(kData0, 3),
                             Out8(kControl, 0x14), Out8(kBlockData, 0xA1), Out8(kControl, 0x54),
                             In8(kStatus, 0x81), Out8(kBlockData, 0xB2), Out8(kStatus, 0x80),
                             In8(kStatus, 0x81), Out8(kBlockData, 0xC3), Out8(kStatus, 0x80),
                             In8(kStatus, 0x82)} +
                    Clear(0x42)));
}

TEST_F(ByteDoneHostPorts, BlockWriteOf40SendsOnly32) {
  ScriptFreeIdle();
  recording_.SetDefault(kStatus, 0x80);
  UCHAR data[40];
  for (UCHAR i = 0; i < 40; ++i)
    data[i] = i;
  EXPECT_EQ(ByteDoneHost::BlockWrite(0x88, 0x00, data, 40), kResultSuccess);
  Sequence blockWrites;
  for (const PortAccess& access : recording_.Writes()) {
    if (access.port == kBlockData) blockWrites.push_back(access);
  }
  ASSERT_EQ(blockWrites.size(), 32u);
  EXPECT_EQ(blockWrites.back(), Out8(kBlockData, 31));
  EXPECT_EQ(Log()[5], Out8(kData0, 32));
  EXPECT_EQ(recording_.CountReads(kStatus), 2u + 32u + 1u);
}

TEST_F(ByteDoneHostPorts, BlockWriteOfNothingNeverStarts) {
  ScriptFreeIdle();
  Status({0x40});
  EXPECT_EQ(ByteDoneHost::BlockWrite(0x88, 0x09, nullptr, 0), kResultSuccess);
  EXPECT_EQ(Log(), (FreeIdle() +
                    Sequence{Out8(kAddress, 0x88), Out8(kCommand, 0x09), Out8(kData0, 0),
                             Out8(kControl, 0x14)} +
                    Clear(0x40)));
}

TEST_F(ByteDoneHostPorts, ByteDoneErrorsIgnoreAlertAndRankFailedCollisionDeviceError) {
  const struct {
    uint8_t seen;
    ResultCode result;
  } cases[] = {{0xA0, kResultSuccess},
               {0x22, kResultSuccess},
               {0x1C | 0x02, kResultFailed},
               {0x0C | 0x80, kResultBusError},
               {0x84, kResultDeviceError}};
  for (const auto& c : cases) {
    recording_.ClearLog();
    ScriptFreeIdle();
    Status({c.seen, 0x40});
    const UCHAR byte = 0x5A;
    EXPECT_EQ(ByteDoneHost::BlockWrite(0x88, 0x00, &byte, 1), c.result) << int(c.seen);
    const Sequence end = c.result == kResultSuccess ? Clear(0x40) : Kill() + Clear(0x40);
    EXPECT_EQ(Tail(9), (Sequence{In8(kStatus, c.seen)} + end)) << int(c.seen);
  }
}

TEST_F(ByteDoneHostPorts, ByteDoneThatNeverComesGivesHostNotReady) {
  ScriptFreeIdle();
  recording_.SetDefault(kStatus, 0x41);
  const UCHAR data[] = {1, 2};
  EXPECT_EQ(ByteDoneHost::BlockWrite(0x88, 0x00, data, 2), kResultHostNotReady);
  EXPECT_EQ(Tail(9), Repeat(In8(kStatus, 0x41), kBudgetReads) + Kill() + Clear(0x41));
}

}  // namespace
}  // namespace omzi2c::testing
