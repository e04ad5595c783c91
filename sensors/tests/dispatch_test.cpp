// The dispatcher: create and close, unknown requests and codes, the result
// to status mapping.
#include <gtest/gtest.h>

#include "requests.h"
#include "support/driver_harness.h"

namespace {

using namespace omzi2c;
using omzi2c::testing::DriverHarness;

TEST(Dispatch, CreateAndCloseAlwaysSucceed) {
  for (bool port : {false, true}) {
    for (bool smb : {false, true}) {
      DriverHarness driver(port, smb);
      for (uint8_t major : {IRP_MJ_CREATE, IRP_MJ_CLOSE}) {
        const ntemu::IoResult result = driver.Send(major);
        EXPECT_EQ(result.status, STATUS_SUCCESS);
        EXPECT_EQ(result.information, 0u);
        EXPECT_TRUE(result.completed);
        EXPECT_FALSE(result.driverFault);
      }
    }
  }
}

TEST(Dispatch, OtherMajorFunctionsAreNotImplemented) {
  DriverHarness driver(true, true);
  // Read (3) and write (4) reach the dispatcher only if registered; register
  // it for them to see its answer.
  for (uint8_t major : {uint8_t{3}, uint8_t{4}, uint8_t{0x10}}) {
    SCOPED_TRACE(major);
    const ntemu::IoResult result = driver.SendTo(major);
    EXPECT_EQ(result.status, STATUS_NOT_IMPLEMENTED);
    EXPECT_TRUE(result.completed);
  }
}

TEST(Dispatch, UnknownControlCodesAreInvalidDeviceRequests) {
  DriverHarness driver(true, true);
  const std::vector<uint8_t> record(40, 0);
  for (uint32_t code : {0u, 0x80076000u, 0x80076408u, 0x8007A41Cu, 0x8007A448u, 0x00226400u,
                        kIoctlReadWithCommand | 1u, kIoctlPortRead | 2u}) {
    SCOPED_TRACE(code);
    const auto reply = driver.Ioctl(code, record, 40);
    EXPECT_EQ(reply.io.status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(reply.io.information, 0u);
  }
  EXPECT_EQ(driver.EventWaits(), 0u);
}

TEST(Dispatch, ServiceFlagsGateTheirCodes) {
  const std::vector<uint8_t> record(40, 0);
  DriverHarness portOnly(/*portService=*/true, /*smbService=*/false);
  EXPECT_EQ(portOnly.Ioctl(kIoctlReadWithCommand, record, 4).io.status,
            STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(portOnly.Ioctl(kIoctlUnsupported, {}, 0).io.status, STATUS_INVALID_DEVICE_REQUEST);

  // Only the low byte of each flag counts; ControllerState keeps the low byte.
  DriverHarness neither(false, false);
  EXPECT_EQ(neither.Ioctl(kIoctlPortRead, std::vector<uint8_t>(12, 0), 12).io.status,
            STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(neither.Ioctl(kIoctlBlockRead, record, 40).io.status, STATUS_INVALID_DEVICE_REQUEST);
}

TEST(ToNtStatus, MapsEveryResultCode) {
  const struct {
    uint32_t result;
    NTSTATUS status;
  } table[] = {
      {0, STATUS_SUCCESS},
      {1, STATUS_IO_DEVICE_ERROR},
      {2, STATUS_TRANSACTION_TIMED_OUT},
      {3, STATUS_DEVICE_CONFIGURATION_ERROR},
      {4, STATUS_DEVICE_CONFIGURATION_ERROR},
      {5, STATUS_DEVICE_CONFIGURATION_ERROR},
      {6, STATUS_DEVICE_CONFIGURATION_ERROR},
      {7, STATUS_NOT_SUPPORTED},
      {8, STATUS_TRANSACTION_TIMED_OUT},
      {9, STATUS_TRANSACTION_TIMED_OUT},
      {10, STATUS_TRANSACTION_TIMED_OUT},
      {11, STATUS_IO_DEVICE_ERROR},
      {13, STATUS_IO_DEVICE_ERROR},
      {14, STATUS_IO_DEVICE_ERROR},
      {17, STATUS_IO_DEVICE_ERROR},
      {255, STATUS_IO_DEVICE_ERROR},
      {0x7FFFFFFF, STATUS_IO_DEVICE_ERROR},
      // Compared as signed: negative values are device errors, not time-outs.
      {0x80000000u, STATUS_IO_DEVICE_ERROR},
      {0xFFFFFFF8u, STATUS_IO_DEVICE_ERROR},
      {0xFFFFFFFFu, STATUS_IO_DEVICE_ERROR},
  };
  for (const auto& row : table) {
    EXPECT_EQ(ToNtStatus(row.result), row.status) << "result " << row.result;
  }
}

}  // namespace
