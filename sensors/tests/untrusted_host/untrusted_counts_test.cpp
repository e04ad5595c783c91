// Counts the request layer takes from a back-end are bounded before use: a
// block read may report at most 32 bytes, an exchange no longer reply than
// its limit, and a block write never lets a host read past the record's
// data, whatever the count and whether or not the host cuts it.
#include <gtest/gtest.h>

#include "requests.h"
#include "scripted_router.h"
#include "support/driver_harness.h"

namespace {

using namespace omzi2c;
using omzi2c::testing::DriverHarness;
using omzi2c::testing::Reply;
using omzi2c::testing::SmbRecord;

class UntrustedCounts : public ::testing::Test {
 protected:
  void SetUp() override { scripted::TheScript() = scripted::Script{}; }
  Reply Run(uint32_t code, uint8_t reported, size_t in, uint32_t out, uint8_t count = 4) {
    scripted::TheScript().reportedCount = reported;
    std::vector<uint8_t> input = SmbRecord(0xA0, 0x10, count, {}, in);
    for (size_t i = kSmbDataOffset; i < in; ++i)
      input[i] = static_cast<uint8_t>(i);
    Reply reply = driver.Ioctl(code, input, out);
    EXPECT_FALSE(reply.io.driverFault);
    EXPECT_LE(reply.io.information, out);
    EXPECT_EQ(driver.EventSets(), driver.EventWaits());
    return reply;
  }
  DriverHarness driver{/*portService=*/false, /*smbService=*/true, /*chipset=*/2};
};

// A reported count beyond what the buffer may receive is refused: block read
// with the result of an invalid received count (16), exchange with the
// result of a reply too long (14); both as error replies.
TEST_F(UntrustedCounts, ReportedCountsBeyondTheRoomAreRefused) {
  const struct {
    uint32_t code;
    uint8_t reported;
    size_t in;
    uint32_t out;
    NTSTATUS status;
    ULONG_PTR information;
  } cases[] = {
      {kIoctlBlockRead, 32, 40, 40, STATUS_SUCCESS, 32},
      {kIoctlBlockRead, 33, 40, 300, STATUS_IO_DEVICE_ERROR, 2},
      {kIoctlBlockRead, 255, 40, 300, STATUS_IO_DEVICE_ERROR, 2},
      {kIoctlBlockRead, 200, 40, 40, STATUS_IO_DEVICE_ERROR, 2},
      {kIoctlExchangeMessage, 31, 40, 40, STATUS_SUCCESS, 32},  // 32 of 32 bytes
      {kIoctlExchangeMessage, 32, 40, 40, STATUS_IO_DEVICE_ERROR, 2},
      {kIoctlExchangeMessage, 100, 300, 40, STATUS_IO_DEVICE_ERROR, 2},
      {kIoctlExchangeMessage, 255, 40, 40, STATUS_IO_DEVICE_ERROR, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.code << " reporting " << int{c.reported});
    const Reply reply = Run(c.code, c.reported, c.in, c.out);
    EXPECT_EQ(reply.io.status, c.status);
    EXPECT_EQ(reply.io.information, c.information);
    if (c.status != STATUS_SUCCESS) {
      const uint8_t result = c.code == kIoctlBlockRead ? kResultDeviceError : kResultFailed;
      EXPECT_EQ(reply.io.systemBuffer[0], result);
    }
  }
}

// The host sees the request's count unchanged, so each keeps its own rule
// above 32 bytes; the bytes it is handed are the record's data and, past
// the record's 32, zeros, never what lies beyond in the system buffer.
TEST_F(UntrustedCounts, BlockWriteDataNeverReachesPastTheRecord) {
  for (uint8_t count : {uint8_t{20}, uint8_t{32}, uint8_t{33}, uint8_t{200}, uint8_t{255}}) {
    SCOPED_TRACE(int{count});
    Run(kIoctlBlockWrite, 0, 40, 300, count);
    const std::vector<UCHAR>& seen = scripted::TheScript().blockWrite;
    ASSERT_EQ(seen.size(), count);
    for (size_t i = 0; i < seen.size(); ++i) {
      const uint8_t expected =
          i < kSmbBlockRecordLength - kSmbDataOffset ? static_cast<uint8_t>(kSmbDataOffset + i) : 0;
      ASSERT_EQ(seen[i], expected) << "byte " << i;
    }
  }
}

}  // namespace
