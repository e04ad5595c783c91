// The client library: the records it builds for each operation, checked
// against what the driver accepts, and the status words it reports.
#include <gtest/gtest.h>

#include <omzi2c/omzi2c.h>

#include "ntemu/port_space.h"
#include "omzi2c_client/client.h"
#include "omzi2c_client/in_process_transport.h"
#include "support/driver_harness.h"

namespace {

using namespace omzi2c;
using client::Client;
using client::PortWidth;
using client::Response;

// Remembers each request and answers with a canned response.
class RecordingTransport : public client::Transport {
 public:
  struct Request {
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t outputLength;
  };
  Response Control(uint32_t code, const std::vector<uint8_t>& input,
                   uint32_t outputLength) override {
    requests.push_back({code, input, outputLength});
    return answer;
  }
  std::vector<Request> requests;
  Response answer;
};

TEST(ClientRecords, ShortReadsAndWrites) {
  RecordingTransport transport;
  Client client(transport);
  client.ReadWithCommand(0x50, 0x10, 2);
  client.ReceiveBytes(0x51, 3);
  client.WriteWithCommand(0x2C, 0xFE, {1, 2, 3});
  client.SendBytes(0x7F, {0x44});

  ASSERT_EQ(transport.requests.size(), 4u);
  const auto& read = transport.requests[0];
  EXPECT_EQ(read.code, kIoctlReadWithCommand);
  EXPECT_EQ(read.input, (std::vector<uint8_t>{0xA0, 0x10, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(read.outputLength, 2u);
  EXPECT_EQ(transport.requests[1].input[0], 0xA2);  // 7-bit address shifted
  EXPECT_EQ(transport.requests[1].outputLength, 3u);
  // Writes carry exactly their data: fixed part of 11 bytes plus the count.
  const auto& write = transport.requests[2];
  EXPECT_EQ(write.code, kIoctlWriteWithCommand);
  EXPECT_EQ(write.input, (std::vector<uint8_t>{0x58, 0xFE, 0, 0, 3, 0, 0, 0, 1, 2, 3, 0, 0, 0}));
  EXPECT_EQ(transport.requests[3].input.size(), 12u);
  EXPECT_EQ(transport.requests[3].input[0], 0xFE);
}

TEST(ClientRecords, BlocksMessagesAndPorts) {
  RecordingTransport transport;
  Client client(transport);
  client.BlockRead(0x08, 0x20);
  client.BlockWrite(0x08, 0x21, {9, 8, 7});
  client.ExchangeMessage(0x08, {1, 2}, 64);
  client.PortWrite(PortWidth::Word, 0x1F0, 0xBEEF);
  client.PortRead(PortWidth::Dword, 0xCFC);

  const auto& blockRead = transport.requests[0];
  EXPECT_EQ(blockRead.code, kIoctlBlockRead);
  EXPECT_EQ(blockRead.input.size(), 40u);
  EXPECT_EQ(blockRead.outputLength, 32u);
  const auto& blockWrite = transport.requests[1];
  EXPECT_EQ(blockWrite.input.size(), 40u);
  EXPECT_EQ(blockWrite.input[4], 3);
  EXPECT_EQ(std::vector<uint8_t>(blockWrite.input.begin() + 8, blockWrite.input.begin() + 12),
            (std::vector<uint8_t>{9, 8, 7, 0}));
  EXPECT_EQ(transport.requests[2].code, kIoctlExchangeMessage);
  EXPECT_EQ(transport.requests[2].outputLength, 64u);
  EXPECT_EQ(transport.requests[3].input,
            (std::vector<uint8_t>{1, 0, 0, 0, 0xF0, 1, 0, 0, 0xEF, 0xBE, 0, 0}));
  EXPECT_EQ(transport.requests[4].outputLength, 12u);
}

TEST(ClientInProcess, PortRoundTripThroughTheDriver) {
  omzi2c::testing::DriverHarness driver(/*portService=*/true, /*smbService=*/false);
  ntemu::RecordingPortSpace ports;
  ntemu::ScopedPortSpace use(&ports);
  ports.SetDefault(0x80, 0x5A);
  client::InProcessTransport transport(driver.Device());
  Client client(transport);

  const Response read = client.PortRead(PortWidth::Byte, 0x80);
  EXPECT_EQ(read.status, kStatusSuccess);
  EXPECT_EQ(read.transferred, 12u);
  EXPECT_EQ(Client::PortValue(read, PortWidth::Byte), 0x5Au);

  // A refused request reports the status and nothing transferred.
  const Response refused = client.ReadWithCommand(0x50, 0, 1);
  EXPECT_EQ(refused.status, kStatusInvalidDeviceRequest);
  EXPECT_EQ(refused.transferred, 0u);
  EXPECT_TRUE(refused.reply.empty());
  EXPECT_FALSE(refused.Succeeded());
}

TEST(ClientStatus, NamesAndWords) {
  EXPECT_STREQ(client::StatusName(kStatusTransactionTimedOut), "STATUS_TRANSACTION_TIMED_OUT");
  EXPECT_EQ(client::DescribeStatus(kStatusNoSuchDevice),
            "SMBus controller not found (STATUS_NO_SUCH_DEVICE, 0xC000000E)");
  EXPECT_STREQ(client::StatusName(0xC0000999u), "STATUS_UNKNOWN");
  EXPECT_EQ(client::DescribeStatus(kStatusIoTimeout),
            "the bus was not free within 30 s (STATUS_IO_TIMEOUT, 0xC00000B5)");
  Response warning;
  warning.status = kStatusBufferOverflow;
  EXPECT_TRUE(warning.Succeeded());  // a warning still delivers its bytes
}

}  // namespace
