// SMBus request validation and replies that need no controller: every length
// rule, the bus event around each request and a wait for it that ends
// without it, error replies of a Chipset with no back-end, and the limits
// that keep replies inside the caller's buffer.
#include <gtest/gtest.h>

#include "ntemu/clock.h"
#include "ntemu/port_space.h"
#include "requests.h"
#include "support/driver_harness.h"

namespace {

using namespace omzi2c;
using namespace ntemu;
using omzi2c::testing::DriverHarness;
using omzi2c::testing::Reply;
using omzi2c::testing::SmbRecord;

class SmbRequestTest : public ::testing::Test {
 protected:
  // No back-end answers Chipset 0: every operation that runs gives result 7.
  DriverHarness driver{/*portService=*/false, /*smbService=*/true, /*chipset=*/0};
  RecordingPortSpace ports;
  ScopedPortSpace usePorts{&ports};

  // A request refused before the bus event: invalid parameter, nothing sent.
  void ExpectRefused(uint32_t code, const std::vector<uint8_t>& input, uint32_t out) {
    const uint64_t waits = driver.EventWaits();
    const Reply reply = driver.Ioctl(code, input, out);
    EXPECT_EQ(reply.io.status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(reply.io.information, 0u);
    EXPECT_EQ(driver.EventWaits(), waits) << "bus event taken for a refused request";
    EXPECT_TRUE(ports.Accesses().empty());
  }

  // A request that passed validation: it held and released the bus event.
  Reply Accepted(uint32_t code, const std::vector<uint8_t>& input, uint32_t out) {
    const uint64_t waits = driver.EventWaits();
    Reply reply = driver.Ioctl(code, input, out);
    EXPECT_NE(reply.io.status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(driver.EventWaits(), waits + 1);
    EXPECT_EQ(driver.EventSets(), driver.EventWaits());
    EXPECT_TRUE(IsSignalled(driver.BusEvent()));
    EXPECT_FALSE(reply.io.driverFault);
    return reply;
  }
};

std::vector<uint8_t> Record(uint8_t count, size_t length) {
  return SmbRecord(0xA0, 0x10, count, {}, length);
}

TEST_F(SmbRequestTest, ShortRecordReadsNeedTwelveBytesAndRoomForCount) {
  for (uint32_t code : {kIoctlReceiveBytes, kIoctlReadWithCommand}) {
    SCOPED_TRACE(code);
    ExpectRefused(code, Record(2, 11), 2);
    ExpectRefused(code, Record(2, 12), 1);  // output shorter than count
    ExpectRefused(code, Record(0, 0), 0);
    Accepted(code, Record(2, 12), 2);
    Accepted(code, Record(2, 13), 2);
    Accepted(code, Record(0, 12), 0);
    Accepted(code, Record(4, 12), 8);
  }
}

TEST_F(SmbRequestTest, WritesNeedExactlyTheirDataBytes) {
  for (uint32_t code : {kIoctlWriteWithCommand, kIoctlSendBytes}) {
    SCOPED_TRACE(code);
    Accepted(code, Record(3, 14), 0);
    ExpectRefused(code, Record(3, 15), 0);
    ExpectRefused(code, Record(3, 13), 0);
    Accepted(code, Record(1, 12), 0);
    ExpectRefused(code, Record(1, 11), 0);
    // Count 0 would need 11 bytes, below the 12-byte minimum: always refused.
    ExpectRefused(code, Record(0, 11), 0);
    ExpectRefused(code, Record(0, 12), 0);
    Accepted(code, Record(32, 43), 0);
  }
}

TEST_F(SmbRequestTest, BlockRecordCodesNeedFortyBytes) {
  for (uint32_t code :
       {kIoctlBlockRead, kIoctlBlockWrite, kIoctlExchangeMessage, kIoctlWriteMessage}) {
    SCOPED_TRACE(code);
    ExpectRefused(code, Record(4, 39), 40);
    ExpectRefused(code, Record(4, 12), 40);
    Accepted(code, Record(4, 40), 40);
    Accepted(code, Record(4, 41), 40);
  }
  // A block write's data never reaches past 32 bytes, so any count passes.
  Accepted(kIoctlBlockWrite, Record(200, 40), 0);
}

TEST_F(SmbRequestTest, MessagesNeverSendBytesBeyondTheInput) {
  for (uint32_t code : {kIoctlExchangeMessage, kIoctlWriteMessage}) {
    SCOPED_TRACE(code);
    Accepted(code, Record(32, 40), 40);
    ExpectRefused(code, Record(33, 40), 40);
    ExpectRefused(code, Record(255, 40), 300);
    Accepted(code, Record(100, 108), 0);
    ExpectRefused(code, Record(101, 108), 0);
    Accepted(code, Record(0, 40), 0);
  }
}

// The reserved code is answered before its buffer or the bus event is
// touched: with no buffers at all there is no system buffer to look at.
TEST_F(SmbRequestTest, UnsupportedCodeAnswersNotSupportedWithoutTheEvent) {
  for (size_t length : {size_t{0}, size_t{1}, size_t{12}, size_t{40}}) {
    for (uint32_t out : {0u, 16u}) {
      const Reply reply = driver.Ioctl(kIoctlUnsupported, Record(4, length), out);
      EXPECT_EQ(reply.io.status, STATUS_NOT_SUPPORTED);
      EXPECT_EQ(reply.io.information, 0u);
      EXPECT_FALSE(reply.io.driverFault);
    }
  }
  EXPECT_EQ(driver.EventWaits(), 0u);
  EXPECT_EQ(driver.EventSets(), 0u);
}

TEST_F(SmbRequestTest, ReadingCodesWriteTheErrorReply) {
  Controller.LastHostStatus = 0x5C;  // left by an earlier transaction
  const struct {
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t out;
  } cases[] = {
      {kIoctlReceiveBytes, Record(4, 12), 4},
      {kIoctlReadWithCommand, Record(2, 12), 2},
      {kIoctlBlockRead, Record(0, 40), 40},
      {kIoctlExchangeMessage, Record(3, 40), 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const Reply reply = Accepted(c.code, c.input, c.out);
    EXPECT_EQ(reply.io.status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(reply.io.information, 2u);
    // Error statuses copy nothing back to the caller, as on Windows.
    EXPECT_EQ(reply.io.bytesReturned, 0u);
  }
  EXPECT_TRUE(ports.Accesses().empty());  // no back-end: no bus activity
}

TEST_F(SmbRequestTest, ErrorReplyIsCutToTheOutputBuffer) {
  EXPECT_EQ(Accepted(kIoctlReceiveBytes, Record(0, 12), 0).io.information, 0u);
  EXPECT_EQ(Accepted(kIoctlReadWithCommand, Record(1, 12), 1).io.information, 1u);
  EXPECT_EQ(Accepted(kIoctlBlockRead, Record(0, 40), 1).io.information, 1u);
}

TEST_F(SmbRequestTest, WritingCodesReportNothingTransferred) {
  for (uint32_t code : {kIoctlWriteWithCommand, kIoctlSendBytes}) {
    const Reply reply = Accepted(code, Record(1, 12), 12);
    EXPECT_EQ(reply.io.status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(reply.io.information, 0u);
  }
  for (uint32_t code : {kIoctlBlockWrite, kIoctlWriteMessage}) {
    const Reply reply = Accepted(code, Record(4, 40), 40);
    EXPECT_EQ(reply.io.status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(reply.io.information, 0u);
  }
}

// Virtual time that moves on a second at each look, as if the waiter slept
// in between: a wait's deadline comes within one thread and no real time.
class SteppingClock : public VirtualClock {
 public:
  SteppingClock() : VirtualClock(false) {}
  uint64_t Now() override {
    Advance(10000000);
    return VirtualClock::Now();
  }
};

// Another holder keeps the bus. A request whose wait ends without it, after
// 30 s or because the caller's thread is being ended, touches nothing: no
// reply, no port access, and no set, which would free the other's bus.
TEST(SmbRequestBusWait, ARequestThatDoesNotGetTheBusTouchesNothing) {
  DriverHarness driver(false, true, /*chipset=*/2, /*smbBase=*/0x0400);  // a host to reach
  RecordingPortSpace ports;
  ScopedPortSpace usePorts(&ports);
  SteppingClock clock;
  ScopedClock useClock(&clock);
  const uint32_t requests[][3] = {{kIoctlReadWithCommand, 12, 2},
                                  {kIoctlReceiveBytes, 12, 1},
                                  {kIoctlBlockRead, 40, 40},
                                  {kIoctlSendBytes, 12, 0}};  // code, input, output
  for (NTSTATUS interruption : {STATUS_SUCCESS, STATUS_USER_APC, STATUS_ALERTED}) {
    for (const auto& r : requests) {
      SCOPED_TRACE(::testing::Message() << std::hex << interruption << " " << r[0]);
      KeWaitForSingleObject(&driver.BusEvent(), Executive, KernelMode, FALSE, nullptr);
      if (interruption != STATUS_SUCCESS) InterruptWait(driver.BusEvent(), interruption);
      std::vector<uint8_t> input = SmbRecord(0xA0, 0x10, 1, {0x5A}, r[1]);
      const uint64_t start = clock.Now();
      const Reply reply = driver.Ioctl(r[0], input, r[2]);
      const uint64_t waited = (clock.Now() - start) / 10000000;  // seconds
      EXPECT_EQ(reply.io.status, interruption ? STATUS_CANCELLED : STATUS_IO_TIMEOUT);
      EXPECT_TRUE(interruption || (waited >= 30 && waited <= 32)) << waited;  // s
      EXPECT_EQ(reply.io.information, 0u);
      input.resize(reply.io.systemBuffer.size(), kSystemBufferPoison);
      EXPECT_EQ(reply.io.systemBuffer, input);  // no reply, not even cleared
      EXPECT_TRUE(ports.Accesses().empty());
      EXPECT_EQ(driver.EventWaits(), driver.EventSets() + 1);  // only the holder's wait
      KeSetEvent(&driver.BusEvent(), IO_NO_INCREMENT, FALSE);
    }
  }
}

TEST(ExchangeMessageLimit, ReplyFitsBothTheBufferAndTheOutput) {
  EXPECT_EQ(ExchangeMessageLimit(40, 40), 32u);     // buffer from offset 8 on
  EXPECT_EQ(ExchangeMessageLimit(40, 0), 0u);       // no room for any reply
  EXPECT_EQ(ExchangeMessageLimit(40, 2), 2u);       // length byte plus one byte
  EXPECT_EQ(ExchangeMessageLimit(40, 100), 92u);    // buffer of 100, 92 from offset 8
  EXPECT_EQ(ExchangeMessageLimit(300, 264), 264u);  // the output is the smaller
  EXPECT_EQ(ExchangeMessageLimit(264, 264), 256u);  // room for a 255-byte reply
  EXPECT_EQ(ExchangeMessageLimit(40, 263), 255u);   // one short of it
}

TEST(MoveExchangeReply, MovesLengthByteAndReplyToTheFront) {
  std::vector<uint8_t> buffer(264, 0xCD);
  buffer[8] = 3;
  buffer[9] = 0x11;
  buffer[10] = 0x22;
  buffer[11] = 0x33;
  EXPECT_EQ(MoveExchangeReply(buffer.data(), 3), 4u);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 4),
            (std::vector<uint8_t>{3, 0x11, 0x22, 0x33}));

  // A 255-byte reply is delivered whole: 256 bytes with its length byte.
  for (size_t i = 0; i < 256; ++i)
    buffer[8 + i] = static_cast<uint8_t>(255 - i);
  EXPECT_EQ(MoveExchangeReply(buffer.data(), 255), 256u);
  for (size_t i = 0; i < 256; ++i)
    ASSERT_EQ(buffer[i], static_cast<uint8_t>(255 - i)) << i;
}

}  // namespace
