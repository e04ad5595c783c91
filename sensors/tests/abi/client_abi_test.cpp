// The C interface of libomzi2c.so on the simulated board: arguments refused
// before any request, the board's devices read and written through it, its
// statuses, and the sequence hold between threads and between processes.
#include <gtest/gtest.h>
#include <omzi2c/omzi2c_client.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "ntemu/bus_lock_file.h"
#include "omzi2c_client/linux_holds.h"

namespace {

constexpr uint8_t kDdr3 = 0x50, kSensor = 0x18, kBlockDevice = 0x44, kAbsent = 0x60;
constexpr uint8_t kMemoryTypeRegister = 0x02, kDdr3Type = 0x0B;
constexpr uint32_t kIoDeviceError = 0xC0000185, kIoTimeout = 0xC00000B5;

// An open handle for a test, closed at its end.
struct Open {
  omzi2c_handle* bus = nullptr;
  char why[256] = "";  // before status, which the open fills it with
  omzi2c_status status;
  explicit Open(const char* options, uint32_t flags = 0)
      : status(omzi2c_open(options, flags, &bus, why, sizeof why)) {}
  ~Open() { omzi2c_close(bus); }
};

// Every call with one bad argument is refused before it reaches the driver:
// with --trace, any request the driver completes prints a done line, so
// nothing may appear on stderr.
TEST(ClientAbi, BadArgumentsNeverReachTheDriver) {
  testing::internal::CaptureStderr();  // the driver's start, traced
  Open open("--trace");
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(open.status, OMZI2C_OK) << open.why;
  omzi2c_handle* h = open.bus;
  uint8_t buffer[64] = {};
  uint8_t value = 0;
  uint16_t word = 0;
  uint32_t dword = 0;
  size_t length = 0;
  const struct {
    const char* what;
    std::function<omzi2c_status()> call;
  } cases[] = {
      {"null handle, read", [&] { return omzi2c_read_byte_data(nullptr, kDdr3, 0, &value); }},
      {"null handle, word", [&] { return omzi2c_read_word_data(nullptr, kDdr3, 0, &word); }},
      {"null handle, port", [&] { return omzi2c_port_read(nullptr, 0x80, 8, &dword); }},
      {"null handle, lock", [&] { return omzi2c_lock(nullptr); }},
      {"null handle, info", [&] { return omzi2c_info(nullptr, nullptr, nullptr, nullptr); }},
      {"null value", [&] { return omzi2c_read_byte_data(h, kDdr3, 0, nullptr); }},
      {"null word", [&] { return omzi2c_read_word_data(h, kDdr3, 0, nullptr); }},
      {"null receive", [&] { return omzi2c_receive_byte(h, kDdr3, nullptr); }},
      {"null block", [&] { return omzi2c_block_read(h, kBlockDevice, 0, nullptr, &length); }},
      {"null block length", [&] { return omzi2c_block_read(h, kBlockDevice, 0, buffer, nullptr); }},
      {"null write data", [&] { return omzi2c_write_bytes(h, kDdr3, 0, nullptr, 1); }},
      {"null port value", [&] { return omzi2c_port_read(h, 0x80, 8, nullptr); }},
      {"null reply", [&] { return omzi2c_exchange_message(h, 0x3a, buffer, 2, nullptr, &length); }},
      {"read of 0", [&] { return omzi2c_read_bytes(h, kDdr3, 0, buffer, 0); }},
      {"read of 33", [&] { return omzi2c_read_bytes(h, kDdr3, 0, buffer, 33); }},
      {"receive of 33", [&] { return omzi2c_receive_bytes(h, kDdr3, buffer, 33); }},
      {"send of 33", [&] { return omzi2c_send_bytes(h, kDdr3, buffer, 33); }},
      {"write of 0", [&] { return omzi2c_write_bytes(h, kDdr3, 0, buffer, 0); }},
      {"block write of 33", [&] { return omzi2c_block_write(h, kBlockDevice, 0, buffer, 33); }},
      {"message of 33", [&] { return omzi2c_write_message(h, 0x3a, buffer, 33); }},
      {"exchange of 0",
       [&] { return omzi2c_exchange_message(h, 0x3a, buffer, 0, buffer, &length); }},
      {"chip 0x80", [&] { return omzi2c_read_byte_data(h, 0x80, 0, &value); }},
      {"chip 0xff, send", [&] { return omzi2c_send_byte(h, 0xFF, 0); }},
      {"chip 0x80, word", [&] { return omzi2c_write_word_data(h, 0x80, 0, 1); }},
      {"chip 0x80, block", [&] { return omzi2c_block_read(h, 0x80, 0, buffer, &length); }},
      {"port width 0", [&] { return omzi2c_port_read(h, 0x80, 0, &dword); }},
      {"port width 24", [&] { return omzi2c_port_write(h, 0x80, 24, 0); }},
      {"port width 64", [&] { return omzi2c_port_read(h, 0x80, 64, &dword); }},
      {"byte port, wide value", [&] { return omzi2c_port_write(h, 0x80, 8, 0x100); }},
      {"word port, wide value", [&] { return omzi2c_port_write(h, 0x80, 16, 0x10000); }},
      {"wait limit over 30 s", [&] { return omzi2c_set_wait_limit(h, 30001); }},
      {"unlock not held", [&] { return omzi2c_unlock(h); }},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    const omzi2c_status status = c.call();
    const std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, OMZI2C_ERROR_BAD_ARGUMENT) << c.what;
    EXPECT_EQ(trace, "") << c.what;
  }
  uint32_t ntstatus = 1;
  int32_t result = 1;
  ASSERT_EQ(omzi2c_last_failure(h, &ntstatus, &result), OMZI2C_OK);
  EXPECT_EQ(ntstatus, 0u);  // no request failed: none was made
  EXPECT_EQ(result, 0);
  // The same calls with good arguments do reach it.
  testing::internal::CaptureStderr();
  EXPECT_EQ(omzi2c_read_byte_data(h, kDdr3, 0, &value), OMZI2C_OK);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("trace done 0x00000000"),
            std::string::npos);
}

// Opens that cannot succeed, each with its status and a reason.
TEST(ClientAbi, OpenFailures) {
  const struct {
    const char* options;
    uint32_t flags;
    omzi2c_status expected;
  } cases[] = {
      {"get 0x50 0", 0, OMZI2C_ERROR_BAD_ARGUMENT},       // a command, not an option
      {"--board nowhere", 0, OMZI2C_ERROR_BAD_ARGUMENT},  // no such board
      {"--fault no-such-fault", 0, OMZI2C_ERROR_BAD_ARGUMENT},
      {nullptr, 0x80, OMZI2C_ERROR_BAD_ARGUMENT},     // unknown flag
      {"--chipset 99", 0, OMZI2C_ERROR_NOT_PRESENT},  // the driver refuses to start
      {"--smb-service off --port-service off", 0, OMZI2C_ERROR_NOT_PRESENT},
  };
  for (const auto& c : cases) {
    Open open(c.options, c.flags);
    EXPECT_EQ(open.status, c.expected) << (c.options ? c.options : "(null)");
    EXPECT_EQ(open.bus, nullptr);
    EXPECT_STRNE(open.why, "") << (c.options ? c.options : "(null)");
  }
  EXPECT_EQ(omzi2c_open(nullptr, 0, nullptr, nullptr, 0), OMZI2C_ERROR_BAD_ARGUMENT);
  // One driver per process: a second open says so, a close frees it again.
  {
    Open first(nullptr);
    ASSERT_EQ(first.status, OMZI2C_OK) << first.why;
    Open second(nullptr);
    EXPECT_EQ(second.status, OMZI2C_ERROR_ALREADY_OPEN);
  }
  Open again(nullptr);
  EXPECT_EQ(again.status, OMZI2C_OK) << again.why;
}

// The board's devices through every kind of request (the values are the
// simulated board's contents: a DDR3 module, a JC-42.4 sensor, a block
// device, the message device of Chipset 5).
TEST(ClientAbi, RequestsOnTheSimulatedBoard) {
  Open open("--chipset 5");
  ASSERT_EQ(open.status, OMZI2C_OK) << open.why;
  omzi2c_handle* h = open.bus;
  int32_t chipset = 0;
  uint32_t base = 0, services = 0;
  ASSERT_EQ(omzi2c_info(h, &chipset, &base, &services), OMZI2C_OK);
  EXPECT_EQ(chipset, 5);
  EXPECT_EQ(base, 0x0400u);
  EXPECT_EQ(services, OMZI2C_SERVICE_PORTS | OMZI2C_SERVICE_SMBUS);

  uint8_t value = 0;
  ASSERT_EQ(omzi2c_read_byte_data(h, kDdr3, kMemoryTypeRegister, &value), OMZI2C_OK);
  EXPECT_EQ(value, kDdr3Type);
  uint16_t word = 0;
  ASSERT_EQ(omzi2c_read_word_data(h, kSensor, 5, &word), OMZI2C_OK);
  EXPECT_EQ(word, 0x2602);  // low byte first on the bus: the sensor sends 0x02 then 0x26
  uint8_t block[OMZI2C_MAX_LENGTH];
  size_t length = 0;
  ASSERT_EQ(omzi2c_block_read(h, kBlockDevice, 0, block, &length), OMZI2C_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), length), "OMZ block device rev 2");

  const uint8_t written[3] = {0x11, 0x22, 0x33};
  uint8_t read[3] = {};
  ASSERT_EQ(omzi2c_write_bytes(h, kDdr3, 0x90, written, 3), OMZI2C_OK);
  ASSERT_EQ(omzi2c_read_bytes(h, kDdr3, 0x90, read, 3), OMZI2C_OK);
  EXPECT_EQ(std::string(read, read + 3), std::string(written, written + 3));
  ASSERT_EQ(omzi2c_write_word_data(h, kSensor, 2, 0x0510), OMZI2C_OK);
  ASSERT_EQ(omzi2c_read_word_data(h, kSensor, 2, &word), OMZI2C_OK);
  EXPECT_EQ(word, 0x0510);

  const uint8_t echo[4] = {1, 2, 0xAA, 0xBB};  // command 1 echoes its two arguments
  uint8_t reply[OMZI2C_MAX_LENGTH];
  ASSERT_EQ(omzi2c_exchange_message(h, 0x3a, echo, 4, reply, &length), OMZI2C_OK);
  ASSERT_EQ(length, 2u);
  EXPECT_EQ(reply[0], 0xAA);
  EXPECT_EQ(reply[1], 0xBB);

  uint32_t address = 0;
  ASSERT_EQ(omzi2c_port_write(h, 0xCF8, 32, 0x8000FB00), OMZI2C_OK);
  ASSERT_EQ(omzi2c_port_read(h, 0xCF8, 32, &address), OMZI2C_OK);
  EXPECT_EQ(address, 0x8000FB00u);

  // A chip that is not there: the driver's status and its result code.
  EXPECT_EQ(omzi2c_read_byte_data(h, kAbsent, 0, &value), OMZI2C_ERROR_DRIVER);
  uint32_t ntstatus = 0;
  int32_t result = 0;
  ASSERT_EQ(omzi2c_last_failure(h, &ntstatus, &result), OMZI2C_OK);
  EXPECT_EQ(ntstatus, kIoDeviceError);
  EXPECT_EQ(result, 16);  // device error: the host saw no acknowledge
}

// The hold belongs to a thread: another thread's request waits for it (here
// with no wait at all, so it is refused), the holder's own requests nest in
// it, and a holder thread that ends without releasing leaves it abandoned
// for the next taker to report once. With the opt-out there is no hold.
TEST(ClientAbi, SequenceHoldBetweenThreads) {
  {
    Open open(nullptr);
    ASSERT_EQ(open.status, OMZI2C_OK) << open.why;
    omzi2c_handle* h = open.bus;
    ASSERT_EQ(omzi2c_set_wait_limit(h, 0), OMZI2C_OK);
    uint8_t value = 0;
    ASSERT_EQ(omzi2c_lock(h), OMZI2C_OK);
    ASSERT_EQ(omzi2c_lock(h), OMZI2C_OK);
    EXPECT_EQ(omzi2c_read_byte_data(h, kDdr3, kMemoryTypeRegister, &value), OMZI2C_OK);
    omzi2c_status other = OMZI2C_OK, otherUnlock = OMZI2C_OK;
    std::thread([&] {
      other = omzi2c_read_byte_data(h, kDdr3, kMemoryTypeRegister, &value);
      otherUnlock = omzi2c_unlock(h);
    }).join();
    EXPECT_EQ(other, OMZI2C_ERROR_BUS_HELD);
    EXPECT_EQ(otherUnlock, OMZI2C_ERROR_BAD_ARGUMENT);
    uint32_t ntstatus = 0;
    omzi2c_last_failure(h, &ntstatus, nullptr);
    EXPECT_EQ(ntstatus, kIoTimeout);
    EXPECT_EQ(omzi2c_unlock(h), OMZI2C_OK);
    EXPECT_EQ(omzi2c_unlock(h), OMZI2C_OK);
    EXPECT_EQ(omzi2c_unlock(h), OMZI2C_ERROR_BAD_ARGUMENT);

    std::thread([&] { other = omzi2c_lock(h); }).join();  // ends holding it
    EXPECT_EQ(other, OMZI2C_OK);
    EXPECT_EQ(omzi2c_read_byte_data(h, kDdr3, kMemoryTypeRegister, &value), OMZI2C_OK);
    EXPECT_EQ(omzi2c_abandoned(h), 1u);
    EXPECT_EQ(omzi2c_read_byte_data(h, kDdr3, kMemoryTypeRegister, &value), OMZI2C_OK);
    EXPECT_EQ(omzi2c_abandoned(h), 0u);
  }
  Open optOut(nullptr, OMZI2C_OPEN_NO_SHARED_HOLD);
  ASSERT_EQ(optOut.status, OMZI2C_OK) << optOut.why;
  ASSERT_EQ(omzi2c_set_wait_limit(optOut.bus, 0), OMZI2C_OK);
  ASSERT_EQ(omzi2c_lock(optOut.bus), OMZI2C_OK);
  omzi2c_status other = OMZI2C_ERROR_DRIVER;
  uint8_t value = 0;
  std::thread([&] { other = omzi2c_read_byte_data(optOut.bus, kDdr3, 2, &value); }).join();
  EXPECT_EQ(other, OMZI2C_OK);
  EXPECT_EQ(value, kDdr3Type);
}

// The lock file real ports share between processes: a child that holds it
// keeps this process out; a child that exits holding it leaves it abandoned.
TEST(ClientAbi, LockFileBetweenProcesses) {
  char folder[] = "/tmp/omzi2c-hold-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  ntemu::SetSystemWideLockFolder(folder);
  std::string error;
  auto hold = omzi2c::client::MakeFileHold(&error);
  ASSERT_NE(hold, nullptr) << error;
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    std::string childError;
    auto own = omzi2c::client::MakeFileHold(&childError);
    char byte = own && own->Take(0) == omzi2c::client::HoldOutcome::kTaken ? 'h' : 'x';
    if (write(toParent[1], &byte, 1) != 1 || read(toChild[0], &byte, 1) != 1) _exit(2);
    if (byte == 'r') own->Release();
    _exit(0);  // on 'e': exits holding it
  }
  char byte = 0;
  ASSERT_EQ(read(toParent[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'h');
  EXPECT_EQ(hold->Take(0), omzi2c::client::HoldOutcome::kTimedOut);
  byte = 'e';
  ASSERT_EQ(write(toChild[1], &byte, 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  EXPECT_EQ(hold->Take(100), omzi2c::client::HoldOutcome::kTakenAbandoned);
  hold->Release();
  EXPECT_EQ(hold->Take(0), omzi2c::client::HoldOutcome::kTaken);
  hold->Release();
  hold.reset();
  ntemu::SetSystemWideLockFolder("");
  std::system((std::string("rm -rf ") + folder).c_str());
}

}  // namespace
