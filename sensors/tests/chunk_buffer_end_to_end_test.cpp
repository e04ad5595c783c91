// Every SMBus control code on Chipset 7, from the I/O manager's entry through
// the chunk-buffer back-end to the host model and its devices, with the
// model's faults reaching every failure the back-end reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "board/block_device.h"
#include "board/chunk_buffer_host_model.h"
#include "board/spd_eeprom.h"
#include "board/word_register_device.h"
#include "ntemu/clock.h"
#include "ntemu/event.h"
#include "ntemu/port_space.h"
#include "support/driver_harness.h"

namespace omzi2c::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using board::ChunkBufferFaults;

constexpr uint16_t kBase = 0x0700;
constexpr board::SlaveAddress kEepromAt{0x50}, kSensorAt{0x2E}, kBlocksAt{0x44}, kAbsentAt{0x33};
const uint8_t kEeprom = kEepromAt.AddressByte();
const uint8_t kSensor = kSensorAt.AddressByte();
const uint8_t kBlocks = kBlocksAt.AddressByte();
const uint8_t kAbsent = kAbsentAt.AddressByte();
const ntemu::Pause kRetryPause = ntemu::Sleep100ns(10000);  // 1 ms

Bytes Counting(uint8_t first, size_t n) {
  Bytes bytes(n);
  for (size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

class ChunkBufferEndToEnd : public ::testing::Test {
 protected:
  ChunkBufferEndToEnd() : harness_(false, true, 7, kBase) {
    host_.MapInto(ports_);
    host_.SetBusyReads(2);
    bus_.Attach(kEepromAt, &eeprom_);
    bus_.Attach(kSensorAt, &sensor_);
    bus_.Attach(kBlocksAt, &blocks_);
    for (int i = 0; i < 256; ++i)
      eeprom_.Set(static_cast<uint8_t>(i), static_cast<uint8_t>(i + 0x30));
    sensor_.SetRegister(0, 0x1A2B);
    blocks_.SetBlock(0x10, {0xB0, 0xB1, 0xB2, 0xB3, 0xB4});
    blocks_.SetBlock(0x11, Counting(0x60, 20));
  }
  // Every test: registers +0x80..+0x8F only, the model saw no stray access,
  // and the only pauses are the composed operations' 1 ms retry pauses.
  void TearDown() override {
    for (const ntemu::PortAccess& a : recording_.Accesses())
      EXPECT_TRUE(a.port >= kBase + 0x80u && a.port <= kBase + 0x8Fu) << a;
    EXPECT_EQ(host_.State().strayAccesses, 0u);
    for (const ntemu::Pause& pause : clock_.Pauses())
      EXPECT_EQ(pause, kRetryPause);
  }

  Reply Request(uint32_t code, const Bytes& input, uint32_t out) {
    const Reply reply = harness_.Ioctl(code, input, out);
    EXPECT_TRUE(reply.io.completed);
    EXPECT_FALSE(reply.io.driverFault);
    EXPECT_EQ(harness_.EventWaits(), harness_.EventSets());
    EXPECT_TRUE(ntemu::IsSignalled(harness_.BusEvent()));
    return reply;
  }
  static Bytes Block(uint8_t address, uint8_t command, uint8_t count, const Bytes& data = {}) {
    Bytes record = SmbRecord(address, command, count, {}, kSmbBlockRecordLength);
    std::copy(data.begin(), data.begin() + std::min<size_t>(data.size(), 32),
              record.begin() + kSmbDataOffset);
    return record;
  }
  void ExpectErrorReply(const Reply& reply, ResultCode result, uint32_t status) {
    EXPECT_EQ(reply.io.status, static_cast<NTSTATUS>(status));
    EXPECT_EQ(reply.io.information, kSmbErrorReplyLength);
    ASSERT_GE(reply.io.systemBuffer.size(), kSmbErrorReplyLength);
    EXPECT_EQ(reply.io.systemBuffer[0], static_cast<uint8_t>(result));
  }
  void ExpectStatus(const Reply& reply, uint32_t status) {
    EXPECT_EQ(reply.io.status, static_cast<NTSTATUS>(status));
    EXPECT_EQ(reply.io.information, 0u);
  }

  DriverHarness harness_;
  board::PortMap ports_;
  board::SmbusBus bus_;
  board::ChunkBufferHostModel host_{bus_, kBase};
  board::SpdEeprom eeprom_;
  board::WordRegisterDevice sensor_;
  board::BlockDevice blocks_;
  ntemu::RecordingPortSpace recording_{&ports_};
  ntemu::VirtualClock clock_;
  ntemu::ScopedPortSpace usePorts_{&recording_};
  ntemu::ScopedClock useClock_{&clock_};
};

// --- data through every code ----------------------------------------------

TEST_F(ChunkBufferEndToEnd, ByteAndWordCodesMoveTheirData) {
  ExpectStatus(Request(kIoctlSendBytes, SmbRecord(kEeprom, 0, 1, {0x40}), 0), STATUS_SUCCESS);
  Reply got = Request(kIoctlReceiveBytes, SmbRecord(kEeprom, 0, 3), 4);
  EXPECT_EQ(got.io.status, STATUS_SUCCESS);
  EXPECT_EQ(got.bytes, (Bytes{0x70, 0x71, 0x72, 0x00}));
  got = Request(kIoctlReadWithCommand, SmbRecord(kEeprom, 0x20, 4), 4);
  EXPECT_EQ(got.bytes, (Bytes{0x50, 0x51, 0x52, 0x53}));
  got = Request(kIoctlReadWithCommand, SmbRecord(kSensor, 0x00, 2), 2);
  EXPECT_EQ(got.bytes, (Bytes{0x2B, 0x1A}));
  ExpectStatus(Request(kIoctlWriteWithCommand, SmbRecord(kEeprom, 0xFE, 3, {1, 2, 3}, 14), 0),
               STATUS_SUCCESS);
  EXPECT_EQ((Bytes{eeprom_.At(0xFE), eeprom_.At(0xFF), eeprom_.At(0x00)}), (Bytes{1, 2, 3}));
  ExpectStatus(Request(kIoctlWriteWithCommand, SmbRecord(kSensor, 0x05, 2, {0xCD, 0xAB}, 13), 0),
               STATUS_SUCCESS);
  EXPECT_EQ(sensor_.Register(5), 0xABCD);
}

TEST_F(ChunkBufferEndToEnd, BlocksMoveChunkByChunkAndWritesAreCutTo32) {
  const struct {
    uint8_t command;
    Bytes block;
  } cases[] = {{0x20, {9}},
               {0x21, Counting(0, 8)},
               {0x22, Counting(0x80, 20)},
               {0x23, Counting(0x40, 32)},
               {0x24, Counting(0xC0, 40)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.block.size());
    const Bytes sent(c.block.begin(), c.block.begin() + std::min<size_t>(c.block.size(), 32));
    ExpectStatus(
        Request(kIoctlBlockWrite,
                Block(kBlocks, c.command, static_cast<uint8_t>(c.block.size()), c.block), 0),
        STATUS_SUCCESS);
    EXPECT_EQ(blocks_.Block(c.command), sent);
    // The write's bus release is met by the read's wait for a free host.
    const Reply read = Request(kIoctlBlockRead, Block(kBlocks, c.command, 0), 40);
    EXPECT_EQ(read.io.status, STATUS_SUCCESS);
    EXPECT_EQ(read.io.information, sent.size());
    EXPECT_EQ(Bytes(read.bytes.begin(), read.bytes.begin() + sent.size()), sent);
  }
  EXPECT_EQ(host_.State().startsWhileBusy, 0u);
  // Two status reads show the chunk flag per chunk moved (1+1+3+4+4 chunks,
  // read and write), and after each write two host-state reads show the bus
  // still held, in the first poll of the read that follows.
  const auto seen = [this](uint32_t offset, uint8_t flag) {
    return std::count_if(recording_.Accesses().begin(), recording_.Accesses().end(),
                         [&](const ntemu::PortAccess& a) {
                           return a.port == kBase + offset &&
                                  a.direction == ntemu::Direction::Read && (a.value & flag) != 0;
                         });
  };
  EXPECT_EQ(seen(0x80, 0x10), 2 * 2 * (1 + 1 + 3 + 4 + 4));
  EXPECT_EQ(seen(0x82, 0x02), 2 * 5);
}

TEST_F(ChunkBufferEndToEnd, BlockWriteOfNothingStartsAndReportsSuccessWithoutABusTransaction) {
  ExpectStatus(Request(kIoctlBlockWrite, Block(kBlocks, 0x30, 0), 0), STATUS_SUCCESS);
  EXPECT_EQ(host_.State().starts, 1u);
  EXPECT_TRUE(bus_.Log().empty());
  // The host's refusal is cleared by the next request's wait for a free host.
  const Reply read = Request(kIoctlBlockRead, Block(kBlocks, 0x10, 0), 40);
  EXPECT_EQ(read.io.status, STATUS_SUCCESS);
  EXPECT_EQ(read.io.information, 5u);
}

TEST_F(ChunkBufferEndToEnd, CodesThisHostLacksAnswerNotSupportedWithoutBusActivity) {
  ExpectStatus(Request(kIoctlUnsupported, SmbRecord(kEeprom, 0, 1), 0), STATUS_NOT_SUPPORTED);
  ExpectErrorReply(Request(kIoctlExchangeMessage, Block(kEeprom, 0, 1, {1}), 40),
                   kResultNotSupported, kStatusNotSupported);
  ExpectStatus(Request(kIoctlWriteMessage, Block(kEeprom, 0, 1, {1}), 0), STATUS_NOT_SUPPORTED);
  EXPECT_TRUE(recording_.Accesses().empty());
}

// --- failures -------------------------------------------------------------

TEST_F(ChunkBufferEndToEnd, AbsentDeviceGivesDeviceErrorForEveryCode) {
  ExpectErrorReply(Request(kIoctlReceiveBytes, SmbRecord(kAbsent, 0, 1), 2), kResultDeviceError,
                   kStatusIoDeviceError);
  ExpectErrorReply(Request(kIoctlReadWithCommand, SmbRecord(kAbsent, 0, 2), 2), kResultDeviceError,
                   kStatusIoDeviceError);
  ExpectErrorReply(Request(kIoctlBlockRead, Block(kAbsent, 0, 0), 40), kResultDeviceError,
                   kStatusIoDeviceError);
  ExpectStatus(Request(kIoctlWriteWithCommand, SmbRecord(kAbsent, 0, 1, {1}), 0),
               kStatusIoDeviceError);
  ExpectStatus(Request(kIoctlSendBytes, SmbRecord(kAbsent, 0, 1, {1}), 0), kStatusIoDeviceError);
  ExpectStatus(Request(kIoctlBlockWrite, Block(kAbsent, 0, 9, Counting(0, 9)), 0),
               kStatusIoDeviceError);
  eeprom_.SetWriteProtected(true);  // a device that refuses the data
  ExpectStatus(Request(kIoctlWriteWithCommand, SmbRecord(kEeprom, 0x10, 1, {0xAA}), 0),
               kStatusIoDeviceError);
  EXPECT_EQ(eeprom_.At(0x10), 0x40);
}

ChunkBufferFaults Busy(uint8_t bits) {
  ChunkBufferFaults f;
  f.stuckBusy = bits;
  return f;
}
ChunkBufferFaults Flags(uint8_t flags, int atChunk = -1) {
  ChunkBufferFaults f;
  f.errorFlags = flags, f.errorAtChunk = atChunk;
  return f;
}
ChunkBufferFaults Count(int count) {
  ChunkBufferFaults f;
  f.blockCount = count;
  return f;
}
ChunkBufferFaults Set(bool ChunkBufferFaults::*fault) {
  ChunkBufferFaults f;
  f.*fault = true;
  return f;
}
uint32_t StatusOf(ResultCode result) {
  return result == kResultTimeout ? kStatusTransactionTimedOut : kStatusIoDeviceError;
}

// Word faults through a word read (nine attempts) and a word write; block
// faults through a block read of 20 bytes or a block write of 20 bytes. Gone
// again, the next requests go through.
TEST_F(ChunkBufferEndToEnd, HostFaultsGiveTheirResultsAndPassWhenGone) {
  enum Kind { kWord, kRead, kWrite };
  const struct {
    const char* name;
    ChunkBufferFaults faults;
    Kind kind;
    ResultCode result;
  } cases[] = {
      {"FirstBusyStuck", Busy(0x01), kWord, kResultTimeout},
      {"SecondBusyStuck", Busy(0x02), kWord, kResultTimeout},
      {"NeverFinishes", Set(&ChunkBufferFaults::neverFinishes), kWord, kResultTimeout},
      {"DeviceError", Flags(0x02), kWord, kResultDeviceError},
      {"Collision", Flags(0x04), kWord, kResultCollisionOrDeviceError},
      {"CollisionOutranksDeviceError", Flags(0x06), kWord, kResultCollisionOrDeviceError},
      {"Count0", Count(0), kRead, kResultDeviceError},
      {"Count33", Count(33), kRead, kResultDeviceError},
      {"ChunkFlagStuck", Set(&ChunkBufferFaults::chunkFlagStuck), kRead, kResultTimeout},
      {"ChunkFlagStuck", Set(&ChunkBufferFaults::chunkFlagStuck), kWrite, kResultTimeout},
      {"CollisionAtTheResult", Flags(0x04), kRead, kResultCollisionOrDeviceError},
      {"DeviceErrorAtChunk2", Flags(0x02, 2), kRead, kResultDeviceError},
      {"DeviceErrorAtChunk2", Flags(0x02, 2), kWrite, kResultDeviceError},
      {"BothFlagsAtChunk0", Flags(0x06), kWrite, kResultCollisionOrDeviceError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.name << " kind " << c.kind);
    host_.Faults() = c.faults;
    clock_.ClearPauses();
    const uint32_t status = StatusOf(c.result);
    if (c.kind == kWord) {
      ExpectErrorReply(Request(kIoctlReadWithCommand, SmbRecord(kSensor, 0, 2), 2), c.result,
                       status);
      EXPECT_EQ(clock_.Pauses().size(), 8u);
      ExpectStatus(Request(kIoctlWriteWithCommand, SmbRecord(kSensor, 1, 2, {1, 2}, 13), 0),
                   status);
    } else if (c.kind == kRead) {
      ExpectErrorReply(Request(kIoctlBlockRead, Block(kBlocks, 0x11, 0), 40), c.result, status);
    } else {
      ExpectStatus(Request(kIoctlBlockWrite, Block(kBlocks, 0x12, 20, Counting(0, 20)), 0), status);
      EXPECT_FALSE(blocks_.HasBlock(0x12));
    }
    host_.Faults() = ChunkBufferFaults{};
    EXPECT_EQ(Request(kIoctlReadWithCommand, SmbRecord(kSensor, 0, 2), 2).bytes,
              (Bytes{0x2B, 0x1A}));
    const Reply block = Request(kIoctlBlockRead, Block(kBlocks, 0x11, 0), 40);
    EXPECT_EQ(Bytes(block.bytes.begin(), block.bytes.begin() + 20), Counting(0x60, 20));
  }
}

// With no done flag to wait for, a start the host never takes up is not seen:
// the request succeeds with what the data registers held.
TEST_F(ChunkBufferEndToEnd, StartNotTakenUpGoesUnnoticed) {
  Reply word = Request(kIoctlReadWithCommand, SmbRecord(kSensor, 0, 2), 2);
  ASSERT_EQ(word.bytes, (Bytes{0x2B, 0x1A}));
  host_.Faults().neverStarts = true;
  bus_.ClearLog();
  word = Request(kIoctlReadWithCommand, SmbRecord(kEeprom, 0x20, 2), 2);
  EXPECT_EQ(word.io.status, STATUS_SUCCESS);
  EXPECT_EQ(word.bytes, (Bytes{0x2B, 0x1A}));  // the sensor's word, still in the buffer
  ExpectStatus(Request(kIoctlWriteWithCommand, SmbRecord(kEeprom, 0x20, 1, {7}), 0),
               STATUS_SUCCESS);
  EXPECT_EQ(eeprom_.At(0x20), 0x50);
  EXPECT_TRUE(bus_.Log().empty());
}

}  // namespace
}  // namespace omzi2c::testing
