// The stand-in's I/O manager: buffered device control as the driver sees it
// (one system buffer, input copied in, the rest poisoned) and as the caller
// sees it (bytes copied back only for non-error statuses), and the faults it
// reports about a driver.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ntemu/io_manager.h"

namespace {

// What the dispatch routine saw and what it is told to answer.
struct Script {
  std::vector<uint8_t> seen;  // the system buffer as it arrived
  ULONG inputLength = 0, outputLength = 0, code = 0;
  NTSTATUS status = STATUS_SUCCESS;
  NTSTATUS returned = STATUS_SUCCESS;
  ULONG_PTR information = 0;
  bool complete = true;
  uint8_t fill = 0x5A;  // written over the whole system buffer
} script;

NTSTATUS Routine(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  script.inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  script.outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  script.code = stack->Parameters.DeviceIoControl.IoControlCode;
  const size_t size =
      script.inputLength > script.outputLength ? script.inputLength : script.outputLength;
  auto* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
  script.seen.assign(buffer, buffer + size);
  std::memset(buffer, script.fill, size);
  irp->IoStatus.Status = script.status;
  irp->IoStatus.Information = script.information;
  if (script.complete) IoCompleteRequest(irp, IO_NO_INCREMENT);
  return script.returned;
}

class IoManager : public ::testing::Test {
 protected:
  void SetUp() override {
    script = Script{};
    driver.MajorFunction[IRP_MJ_DEVICE_CONTROL] = Routine;
    device.DriverObject = &driver;
  }
  ntemu::IoResult Send(std::vector<uint8_t> input, std::vector<uint8_t>& output) {
    return ntemu::DeviceIoControl(&device, 0x80076404, input.data(),
                                  static_cast<ULONG>(input.size()), output.data(),
                                  static_cast<ULONG>(output.size()));
  }
  DRIVER_OBJECT driver{};
  DEVICE_OBJECT device{};
};

TEST_F(IoManager, OneSystemBufferWithTheInputAndPoisonAfterIt) {
  std::vector<uint8_t> output(6, 0xEE);
  Send({1, 2, 3}, output);
  EXPECT_EQ(script.inputLength, 3u);
  EXPECT_EQ(script.outputLength, 6u);
  EXPECT_EQ(script.code, 0x80076404u);
  const uint8_t p = ntemu::kSystemBufferPoison;
  EXPECT_EQ(script.seen, (std::vector<uint8_t>{1, 2, 3, p, p, p}));
}

TEST_F(IoManager, CopiesTheTransferredBytesBackUnlessTheStatusIsAnError) {
  script.information = 4;
  std::vector<uint8_t> output(6, 0xEE);
  ntemu::IoResult result = Send({1}, output);
  EXPECT_EQ(result.bytesReturned, 4u);
  EXPECT_EQ(output, (std::vector<uint8_t>{0x5A, 0x5A, 0x5A, 0x5A, 0xEE, 0xEE}));
  EXPECT_FALSE(result.driverFault);

  script.status = script.returned = STATUS_BUFFER_OVERFLOW;  // a warning still copies
  output.assign(6, 0xEE);
  result = Send({1}, output);
  EXPECT_EQ(result.bytesReturned, 4u);
  EXPECT_EQ(output[0], 0x5A);

  script.status = script.returned = STATUS_IO_DEVICE_ERROR;
  script.information = 2;
  output.assign(6, 0xEE);
  result = Send({1}, output);
  EXPECT_EQ(result.status, STATUS_IO_DEVICE_ERROR);
  EXPECT_EQ(result.information, 2u);
  EXPECT_EQ(result.bytesReturned, 0u);
  EXPECT_EQ(output, std::vector<uint8_t>(6, 0xEE));
}

TEST_F(IoManager, ReportsTheDriversFaults) {
  std::vector<uint8_t> output(4, 0xEE);
  script.information = 5;  // beyond the caller's buffer
  ntemu::IoResult result = Send({1, 2, 3, 4, 5, 6, 7, 8}, output);
  EXPECT_TRUE(result.driverFault);
  EXPECT_EQ(result.bytesReturned, 4u);  // never past the caller's buffer

  script = Script{};
  script.returned = STATUS_UNSUCCESSFUL;  // returns one status, completes with another
  EXPECT_TRUE(Send({1}, output).driverFault);

  script = Script{};
  script.complete = false;
  result = Send({1}, output);
  EXPECT_FALSE(result.completed);
  EXPECT_TRUE(result.driverFault);
}

TEST_F(IoManager, NoRoutineForTheRequestIsAnInvalidRequest) {
  const ntemu::IoResult result = ntemu::SendRequest(&device, IRP_MJ_CREATE);
  EXPECT_EQ(result.status, STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_FALSE(result.driverFault);
}

}  // namespace
