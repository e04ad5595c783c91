// Raw port requests through the I/O manager: every width in both directions,
// the length rules, and what reaches the port space.
#include <gtest/gtest.h>

#include "ntemu/port_space.h"
#include "support/driver_harness.h"

namespace {

using namespace omzi2c;
using namespace ntemu;
using omzi2c::testing::DriverHarness;
using omzi2c::testing::PortRecord;

class PortRequest : public ::testing::Test {
 protected:
  DriverHarness driver{/*portService=*/true, /*smbService=*/false};
  RecordingPortSpace ports;
  ScopedPortSpace usePorts{&ports};
};

TEST_F(PortRequest, ReadsEachWidthIntoTheValueField) {
  ports.SetDefault(0x80, 0x5A);
  ports.SetDefault(0x1F0, 0xBEEF);
  ports.SetDefault(0xCFC, 0x12345678);

  auto byte = driver.Ioctl(kIoctlPortRead, PortRecord(kPortWidthByte, 0x80, 0xAABBCCDD), 12);
  auto word = driver.Ioctl(kIoctlPortRead, PortRecord(kPortWidthWord, 0x1F0, 0xAABBCCDD), 12);
  auto dword = driver.Ioctl(kIoctlPortRead, PortRecord(kPortWidthDword, 0xCFC, 0), 12);

  EXPECT_EQ(ports.Accesses(), (std::vector<PortAccess>{In8(0x80, 0x5A), In16(0x1F0, 0xBEEF),
                                                       In32(0xCFC, 0x12345678)}));
  for (const auto* reply : {&byte, &word, &dword}) {
    EXPECT_EQ(reply->io.status, STATUS_SUCCESS);
    EXPECT_EQ(reply->io.information, 12u);
    EXPECT_FALSE(reply->io.driverFault);
  }
  // Only the width's bytes change; the rest echo the request.
  EXPECT_EQ(std::vector<uint8_t>(byte.bytes.begin() + 8, byte.bytes.end()),
            (std::vector<uint8_t>{0x5A, 0xCC, 0xBB, 0xAA}));
  EXPECT_EQ(std::vector<uint8_t>(word.bytes.begin() + 8, word.bytes.end()),
            (std::vector<uint8_t>{0xEF, 0xBE, 0xBB, 0xAA}));
  EXPECT_EQ(std::vector<uint8_t>(dword.bytes.begin() + 8, dword.bytes.end()),
            (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}));
  // Width and port come back as sent.
  EXPECT_EQ(std::vector<uint8_t>(word.bytes.begin(), word.bytes.begin() + 8),
            (std::vector<uint8_t>{1, 0, 0, 0, 0xF0, 0x01, 0, 0}));
}

TEST_F(PortRequest, WritesEachWidthFromTheValueField) {
  auto byte = driver.Ioctl(kIoctlPortWrite, PortRecord(kPortWidthByte, 0x70, 0xAABBCC8F), 0);
  auto word = driver.Ioctl(kIoctlPortWrite, PortRecord(kPortWidthWord, 0x4E0, 0xAABB1234), 0);
  auto dword = driver.Ioctl(kIoctlPortWrite, PortRecord(kPortWidthDword, 0xCF8, 0x8000F8D0), 0);

  EXPECT_EQ(ports.Accesses(), (std::vector<PortAccess>{Out8(0x70, 0x8F), Out16(0x4E0, 0x1234),
                                                       Out32(0xCF8, 0x8000F8D0)}));
  for (const auto* reply : {&byte, &word, &dword}) {
    EXPECT_EQ(reply->io.status, STATUS_SUCCESS);
    EXPECT_EQ(reply->io.information, 0u);  // write with output length 0 is accepted
  }
}

TEST_F(PortRequest, UnknownWidthSucceedsWithoutAccess) {
  auto read = driver.Ioctl(kIoctlPortRead, PortRecord(3, 0x80, 0), 12);
  auto write = driver.Ioctl(kIoctlPortWrite, PortRecord(0xFFFFFFFF, 0x80, 0), 0);
  EXPECT_EQ(read.io.status, STATUS_SUCCESS);
  EXPECT_EQ(read.io.information, 0u);
  EXPECT_EQ(write.io.status, STATUS_SUCCESS);
  EXPECT_TRUE(ports.Accesses().empty());
}

TEST_F(PortRequest, LengthRules) {
  std::vector<uint8_t> shortRecord = PortRecord(kPortWidthByte, 0x80, 0);
  shortRecord.resize(11);
  std::vector<uint8_t> longRecord = PortRecord(kPortWidthByte, 0x80, 0);
  longRecord.resize(13, 0);

  EXPECT_EQ(driver.Ioctl(kIoctlPortRead, shortRecord, 12).io.status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(driver.Ioctl(kIoctlPortWrite, shortRecord, 0).io.status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(driver.Ioctl(kIoctlPortRead, PortRecord(0, 0x80, 0), 4).io.status,
            STATUS_INVALID_PARAMETER);
  EXPECT_EQ(driver.Ioctl(kIoctlPortRead, PortRecord(0, 0x80, 0), 11).io.status,
            STATUS_INVALID_PARAMETER);
  EXPECT_TRUE(ports.Accesses().empty());

  EXPECT_EQ(driver.Ioctl(kIoctlPortRead, longRecord, 12).io.status, STATUS_SUCCESS);
  EXPECT_EQ(driver.Ioctl(kIoctlPortRead, PortRecord(0, 0x80, 0), 13).io.information, 12u);
  EXPECT_EQ(ports.Accesses().size(), 2u);
}

TEST_F(PortRequest, PortNumberIsPassedOnUnchecked) {
  driver.Ioctl(kIoctlPortWrite, PortRecord(kPortWidthByte, 0x12345, 0x01), 0);
  ASSERT_EQ(ports.Accesses().size(), 1u);
  EXPECT_EQ(ports.Accesses()[0], Out8(0x12345, 0x01));
}

TEST_F(PortRequest, TakesNoBusLock) {
  DriverHarness both(true, true);
  both.Ioctl(kIoctlPortRead, PortRecord(kPortWidthByte, 0x80, 0), 12);
  both.Ioctl(kIoctlPortWrite, PortRecord(kPortWidthByte, 0x80, 0), 0);
  EXPECT_EQ(both.EventWaits(), 0u);
  EXPECT_EQ(both.EventSets(), 0u);
}

TEST(PortRequestService, RefusedWhenPortServiceDisabled) {
  DriverHarness driver(/*portService=*/false, /*smbService=*/true);
  RecordingPortSpace ports;
  ScopedPortSpace use(&ports);
  EXPECT_EQ(driver.Ioctl(kIoctlPortRead, PortRecord(0, 0x80, 0), 12).io.status,
            STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(driver.Ioctl(kIoctlPortWrite, PortRecord(0, 0x80, 0), 0).io.status,
            STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_TRUE(ports.Accesses().empty());
}

}  // namespace
