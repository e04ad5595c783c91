// Chipset 10 end to end on the simulated board: discovery switches the
// controller on, then requests go through the I/O manager, the
// embedded-controller back-end and the controller model with its lagging
// handshake flags to the board's devices. After every test the model has
// seen no byte overrun, no read of an empty output buffer and no packet
// error checking.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "board/simulated_board.h"
#include "discovery/discovery.h"
#include "ntemu/clock.h"
#include "support/driver_harness.h"

namespace omzi2c::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using Faults = board::EmbeddedControllerFaults;

const uint8_t kModule = board::SlaveAddress(0x50).AddressByte();
const uint8_t kBlocks = board::SlaveAddress(0x44).AddressByte();
constexpr uint32_t kIdentityLength = 22;  // "OMZ block device rev 2"

class EcEndToEnd : public ::testing::Test {
 protected:
  EcEndToEnd() { Fresh(); }
  ~EcEndToEnd() override { ntemu::InstallPortSpace(nullptr); }
  void TearDown() override { CheckHandshakes(); }

  void Fresh() {
    if (board_) CheckHandshakes();
    board::BoardConfig config;
    config.chipset = 10;
    board_ = std::make_unique<board::SimulatedBoard>(config);
    ntemu::InstallPortSpace(&board_->Ports());
    Controller.VID = config.vendorId, Controller.DID = config.deviceId;
    Controller.Func = config.function;
    EXPECT_TRUE(DiscoverController());
  }
  void CheckHandshakes() {
    EXPECT_EQ(Ec().Counters().overruns, 0u);
    EXPECT_EQ(Ec().Counters().staleReads, 0u);
    EXPECT_EQ(Ec().Counters().pecRequests, 0u);
  }
  Reply Request(uint32_t code, const Bytes& input, uint32_t out) {
    const Reply reply = harness_.Ioctl(code, input, out);
    EXPECT_TRUE(reply.io.completed);
    EXPECT_EQ(harness_.EventWaits(), harness_.EventSets());
    return reply;
  }
  static Bytes Block(uint8_t address, uint8_t command, uint8_t count, const Bytes& data = {}) {
    Bytes record = SmbRecord(address, command, count, {}, kSmbBlockRecordLength);
    std::copy(data.begin(), data.end(), record.begin() + kSmbDataOffset);
    return record;
  }
  board::EmbeddedControllerModel& Ec() { return *board_->EmbeddedController(); }

  DriverHarness harness_{false, true, 10};
  ntemu::VirtualClock clock_;
  ntemu::ScopedClock useClock_{&clock_};
  std::unique_ptr<board::SimulatedBoard> board_;
};

TEST(EcModel, TakesAndProducesBytesOnlyAfterTheConfiguredStatusReads) {
  board::SmbusBus bus;
  board::EmbeddedControllerModel ec(bus, 0x0640);
  ec.SetHandshakeReads(3);
  ec.RaiseEvent(0x42);
  ec.Write(0x0644, ntemu::Width::Byte, 0x84);  // query event
  // Three reads with input full, three with nothing, then the event byte.
  for (uint32_t expected : {0x2A, 0x2A, 0x2A, 0x08, 0x08, 0x08, 0x09})
    EXPECT_EQ(ec.Read(0x0644, ntemu::Width::Byte), expected);
  EXPECT_EQ(ec.Read(0x0640, ntemu::Width::Byte), 0x42u);
  EXPECT_EQ(ec.Read(0x0644, ntemu::Width::Byte), 0x08u);  // taken, no event left
  ec.Write(0x0644, ntemu::Width::Byte, 0x80);
  ec.Write(0x0640, ntemu::Width::Byte, 0x02);  // before the command was taken
  EXPECT_EQ(ec.Counters().overruns, 1u);
}

// Every command against the devices: see the tool's Chipset 10 test.
TEST_F(EcEndToEnd, BlockReadsReturnTheDevicesBlockAndBlockWritesTake1To32Bytes) {
  const Reply block = Request(kIoctlBlockRead, Block(kBlocks, 0x00, 9), 40);
  EXPECT_EQ(block.io.status, STATUS_SUCCESS);
  EXPECT_EQ(block.io.information, kIdentityLength);  // the device's count, not the request's
  EXPECT_EQ(Bytes(block.bytes.begin(), block.bytes.begin() + 3), (Bytes{'O', 'M', 'Z'}));
  Bytes full(32);
  for (uint8_t i = 0; i < 32; ++i)
    full[i] = static_cast<uint8_t>(0x80 + i);
  EXPECT_EQ(Request(kIoctlBlockWrite, Block(kBlocks, 0x21, 32, full), 0).io.status, STATUS_SUCCESS);
  EXPECT_EQ(board_->Blocks().Block(0x21), full);
  EXPECT_EQ(Request(kIoctlBlockRead, Block(kBlocks, 0x21, 0), 40).io.information, 32u);
  EXPECT_EQ(Request(kIoctlBlockWrite, Block(kBlocks, 0x22, 33), 0).io.status,
            static_cast<NTSTATUS>(kStatusIoDeviceError));
  EXPECT_EQ(board_->Bus().Log().size(), 3u);
}

TEST_F(EcEndToEnd, EventsFromElsewhereAreDrainedBeforeTheRequestsOwnAccesses) {
  Ec().RaiseEvent(0x31);
  Ec().RaiseEvent(0x32);
  const Reply reply = Request(kIoctlReadWithCommand, SmbRecord(kModule, 0x80, 1), 1);
  EXPECT_EQ(reply.bytes, Bytes{0x4F});
  EXPECT_EQ(Ec().Counters().queries, 3u);  // two strays, then the transaction's own event
  EXPECT_TRUE(Ec().Events().empty());
}

NTSTATUS StatusOf(ResultCode result) {
  if (result == 0) return STATUS_SUCCESS;
  if (result == 2 || result == 8) return static_cast<NTSTATUS>(kStatusTransactionTimedOut);
  if (result == 7) return static_cast<NTSTATUS>(kStatusNotSupported);
  return static_cast<NTSTATUS>(kStatusIoDeviceError);
}

TEST_F(EcEndToEnd, InjectedFaultsGiveTheirResultsAndBoundedWaitsEndInTimeout) {
  // Input stuck full, output never full, event flag stuck set, never raised.
  std::vector<std::pair<Faults, ResultCode>> cases = {
      {{true}, 2}, {{false, true}, 2}, {{false, false, false, true}, 2}, {{false, false, true}, 0}};
  for (const auto& [status, result] : std::map<int, ResultCode>{{0x07, 14},
                                                                {0x10, 1},
                                                                {0x11, 16},
                                                                {0x12, 7},
                                                                {0x13, 15},
                                                                {0x17, 16},
                                                                {0x18, 2},
                                                                {0x19, 7},
                                                                {0x1A, 8},
                                                                {0x1F, 17},
                                                                {0x40, 14},
                                                                {0x00, 2},
                                                                {0x90, 1},
                                                                {0x81, 15},
                                                                {0x85, 15},
                                                                {0x9A, 8},
                                                                {0xC0, 14}}) {
    cases.push_back({Faults{}, result});
    cases.back().first.status = status;
  }
  for (const auto& [faults, result] : cases) {
    SCOPED_TRACE(::testing::Message() << "status " << faults.status << ", result " << result);
    Fresh();
    Ec().Faults() = faults;
    clock_.ClearPauses();
    const Reply reply = Request(kIoctlReadWithCommand, SmbRecord(kModule, 0x02, 1), 1);
    EXPECT_EQ(reply.io.status, StatusOf(result));
    const bool dataRead = faults.status < 0;
    EXPECT_EQ(reply.io.systemBuffer[0], result != 0 ? result : dataRead ? 0x0B : 0);
    EXPECT_EQ(clock_.Pauses().size(), result == 0 ? 0u : 8u);  // nine attempts
    const Reply block = Request(kIoctlBlockRead, Block(kBlocks, 0x00, 7), 40);
    EXPECT_EQ(block.io.status, StatusOf(result));
    EXPECT_EQ(block.io.information, result != 0 ? 2u : dataRead ? kIdentityLength : 0u);
  }
  Fresh();
  board_->Bus().Detach(board::SlaveAddress(0x44));
  EXPECT_EQ(Request(kIoctlBlockRead, Block(kBlocks, 0x00, 0), 40).io.systemBuffer[0], 1);
  for (const auto& [count, length] : std::map<int, uint32_t>{{0x25, 5}, {0, 32}}) {
    Fresh();
    Ec().Faults().blockCount = count;
    EXPECT_EQ(Request(kIoctlBlockRead, Block(kBlocks, 0x00, 0), 40).io.information, length);
  }
}

}  // namespace
}  // namespace omzi2c::testing
