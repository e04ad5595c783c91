// Chipset 4, 5 and 6 end to end: discovery on the simulated board, then
// requests through the I/O manager, the request layer and the paced-poll
// back-end to the host model and the board's devices, faults included.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "board/simulated_board.h"
#include "discovery/discovery.h"
#include "ntemu/clock.h"
#include "ntemu/event.h"
#include "support/driver_harness.h"
#include "tools/cli.h"

namespace omzi2c::testing {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kEeprom = 0x50 << 1, kSensor = 0x18 << 1, kBlocks = 0x44 << 1;
constexpr uint8_t kMessages = board::address::kMessageDevice << 1;

class PacedPollEndToEnd : public ::testing::TestWithParam<int> {
 protected:
  PacedPollEndToEnd() : board_(Config()), harness_(false, true, GetParam()) {}

  static board::BoardConfig Config() {
    board::BoardConfig config;
    config.chipset = GetParam();
    return config;
  }
  // Discovery as start-up runs it, after the faults are in place.
  void Discover() {
    Controller.VID = board_.Config().vendorId;
    Controller.DID = board_.Config().deviceId;
    Controller.Func = board_.Config().function;
    ASSERT_TRUE(DiscoverController());
  }
  Reply Request(uint32_t code, const Bytes& input, uint32_t out) {
    const Reply reply = harness_.Ioctl(code, input, out);
    EXPECT_TRUE(reply.io.completed);
    EXPECT_EQ(harness_.EventWaits(), harness_.EventSets());
    EXPECT_LE(reply.io.information, out);
    return reply;
  }
  static Bytes Block(uint8_t address, uint8_t command, uint8_t count, const Bytes& data = {},
                     size_t length = kSmbBlockRecordLength) {
    Bytes record = SmbRecord(address, command, count, {}, length);
    std::copy(data.begin(), data.end(), record.begin() + kSmbDataOffset);
    return record;
  }
  static void ExpectError(const Reply& reply, ResultCode result, uint8_t lastStatus) {
    EXPECT_EQ(reply.io.information, kSmbErrorReplyLength);
    ASSERT_GE(reply.io.systemBuffer.size(), 2u);
    EXPECT_EQ(reply.io.systemBuffer[0], result);
    EXPECT_EQ(reply.io.systemBuffer[1], lastStatus);
  }
  board::PacedPollHostModel& Host() { return *board_.PacedPollHost(); }

  board::SimulatedBoard board_;
  ntemu::ScopedPortSpace usePorts_{&board_.Ports()};
  ntemu::VirtualClock clock_;
  ntemu::ScopedClock useClock_{&clock_};
  DriverHarness harness_;
};

TEST_P(PacedPollEndToEnd, EveryTransferKindReachesTheDevices) {
  Discover();
  board_.Blocks().SetBlock(0x10, {0xB0, 0xB1, 0xB2});
  EXPECT_EQ(
      Request(kIoctlWriteWithCommand, SmbRecord(kEeprom, 0xFE, 3, {1, 2, 3}, 14), 0).io.status,
      STATUS_SUCCESS);
  EXPECT_EQ(Request(kIoctlReadWithCommand, SmbRecord(kEeprom, 0xFE, 3), 3).bytes, (Bytes{1, 2, 3}));
  EXPECT_EQ(Request(kIoctlSendBytes, SmbRecord(kEeprom, 0, 1, {0xFF}), 0).io.status,
            STATUS_SUCCESS);
  EXPECT_EQ(Request(kIoctlReceiveBytes, SmbRecord(kEeprom, 0, 2), 2).bytes, (Bytes{2, 3}));
  EXPECT_EQ(
      Request(kIoctlWriteWithCommand, SmbRecord(kSensor, 2, 2, {0x34, 0x12}, 13), 0).io.status,
      STATUS_SUCCESS);
  EXPECT_EQ(Request(kIoctlReadWithCommand, SmbRecord(kSensor, 2, 2), 2).bytes, (Bytes{0x34, 0x12}));
  EXPECT_EQ(Request(kIoctlBlockRead, Block(kBlocks, 0x10, 0), 40).io.information, 3u);
  Bytes full(32, 0x5C);
  EXPECT_EQ(Request(kIoctlBlockWrite, Block(kBlocks, 0x20, 40, full), 0).io.status, STATUS_SUCCESS);
  EXPECT_EQ(board_.Blocks().Block(0x20), full);
  EXPECT_EQ(Host().State().kills, 0u);
  EXPECT_EQ(Controller.LastHostStatus, 0);
}

TEST_P(PacedPollEndToEnd, HostFaultsGiveTheirResultsAndTheStatusOfABusyTimeout) {
  const bool paced = GetParam() != 4;
  const struct {
    const char* fault;
    ResultCode result;
    uint8_t lastStatus;  // in the error reply
  } cases[] = {
      {"busy-stuck", kResultTimeout, uint8_t(paced ? 0x01 : 0)},
      {"second-busy-stuck", paced ? kResultSuccess : kResultTimeout, 0},
      {"never-starts", kResultHostNotReady, 0},
      {"never-finishes", kResultTimeout, 0x01},
      {"failed", kResultFailed, 0},
      {"collision", kResultBusError, 0},
      {"device-error", kResultDeviceError, 0},
      {"device-error+failed+collision", kResultFailed, 0},
      {"device-error+collision", kResultBusError, 0},
      {"nak", kResultDeviceError, 0},
      {"block-count-0", kResultDeviceError, 0},
      {"block-count-33", kResultDeviceError, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    board::SimulatedBoard board(Config());
    ntemu::ScopedPortSpace usePorts(&board.Ports());
    std::string error, names = c.fault;
    for (size_t at = 0; at != std::string::npos;) {  // faults joined by '+'
      const size_t end = names.find('+', at);
      ASSERT_TRUE(board.InjectFault(names.substr(at, end - at), &error)) << error;
      at = end == std::string::npos ? end : end + 1;
    }
    Controller.LastHostStatus = 0;
    Discover();
    const bool block = std::string(c.fault).rfind("block", 0) == 0;
    const Reply reply = block ? Request(kIoctlBlockRead, Block(kBlocks, 0, 0), 40)
                              : Request(kIoctlReadWithCommand, SmbRecord(kEeprom, 0, 1), 2);
    if (c.result == kResultSuccess) {
      EXPECT_EQ(reply.io.status, STATUS_SUCCESS);
      continue;
    }
    ExpectError(reply, c.result, c.lastStatus);
  }
}

INSTANTIATE_TEST_SUITE_P(Chipsets, PacedPollEndToEnd, ::testing::Values(4, 5, 6));

using MessageEndToEnd = PacedPollEndToEnd;

TEST_P(MessageEndToEnd, ExchangesRepliesWithinTheOutputAndWritesMessages) {
  Discover();
  const Reply echo = Request(kIoctlExchangeMessage, Block(kMessages, 0, 4, {1, 2, 0xAA, 0xBB}), 40);
  EXPECT_EQ(echo.io.status, STATUS_SUCCESS);
  EXPECT_EQ(echo.io.information, 3u);
  EXPECT_EQ(Bytes(echo.bytes.begin(), echo.bytes.begin() + 4), (Bytes{2, 0xAA, 0xBB, 0xEE}));
  // 255 bytes and their length byte fill 256 bytes of a large output buffer.
  const Reply pattern = Request(kIoctlExchangeMessage, Block(kMessages, 0, 3, {2, 1, 255}), 264);
  EXPECT_EQ(pattern.io.status, STATUS_SUCCESS);
  ASSERT_EQ(pattern.io.information, 256u);
  EXPECT_EQ(pattern.bytes[0], 255);
  EXPECT_EQ(pattern.bytes[255], 254);
  // A reply that would pass the output buffer is refused.
  const Reply tooLong = Request(kIoctlExchangeMessage, Block(kMessages, 0, 3, {2, 1, 30}), 30);
  EXPECT_EQ(tooLong.io.status, static_cast<NTSTATUS>(kStatusIoDeviceError));
  ExpectError(tooLong, kResultFailed, 0);
  EXPECT_EQ(Request(kIoctlWriteMessage, Block(kMessages, 0, 4, {4, 2, 7, 9}), 0).io.status,
            STATUS_SUCCESS);
  EXPECT_EQ(board_.Messages()->Note(), (Bytes{7, 9}));
  EXPECT_EQ(Request(kIoctlExchangeMessage, Block(kMessages, 0, 2, {5, 0}), 40).bytes[2], 9);
  // An empty exchange is refused without a transaction.
  const uint32_t starts = Host().State().starts;
  ExpectError(Request(kIoctlExchangeMessage, Block(kMessages, 0, 0), 40), kResultFailed, 0);
  EXPECT_EQ(Request(kIoctlWriteMessage, Block(kMessages, 0, 0), 0).io.status, STATUS_SUCCESS);
  EXPECT_EQ(Host().State().starts, starts);
}

TEST_P(MessageEndToEnd, BoardSpecificStepsAndRecovery) {
  std::string error;
  if (GetParam() == 6) {
    ASSERT_TRUE(board_.InjectFault("loses-config", &error)) << error;
  }
  Discover();
  const size_t writes = board_.HostFunction()->SoftwareWrites();
  EXPECT_EQ(Request(kIoctlReadWithCommand, SmbRecord(kEeprom, 0, 1), 1).io.status, STATUS_SUCCESS);
  if (GetParam() == 5) {
    EXPECT_EQ(board_.AuxPorts()->Index(), 0x12);
    EXPECT_EQ(board_.AuxPorts()->DataReads(), 32 * board_.AuxPorts()->IndexWrites());
    return;
  }
  // The first attempt lost the host; the retry's idle wait wrote 0x40 twice,
  // then 0x90 and 0xD0 back, and the host answered again.
  EXPECT_EQ(board_.HostFunction()->SoftwareWrites() - writes, 2u + 4u);
  EXPECT_TRUE(board_.HostFunction()->Decoding());
  EXPECT_EQ(Controller.LastHostStatus, 0xFF);  // the open bus, read at the first time-out
}

TEST_P(MessageEndToEnd, TheToolExchangesAndWritesMessages) {
  const std::string chipset = std::to_string(GetParam());
  std::ostringstream err;
  std::istringstream script("write-message 0x3a 4 1 0x42\nexchange 0x3a 5 0\ninfo\n");
  std::ostringstream shellOut;
  EXPECT_EQ(tool::RunTool({"--chipset", chipset, "-y", "shell"}, {script, shellOut, err}), 0);
  EXPECT_NE(shellOut.str().find("0x01 0x42\n"), std::string::npos) << shellOut.str();
  EXPECT_NE(shellOut.str().find("(paced-poll host)"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Chipsets, MessageEndToEnd, ::testing::Values(5, 6));

}  // namespace
}  // namespace omzi2c::testing
