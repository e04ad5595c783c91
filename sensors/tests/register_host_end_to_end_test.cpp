// Every SMBus control code on Chipset 1, 8 and 9, from the I/O manager's
// entry through the router and the start-port or dual-status back-end to
// the simulated board's host model, found and enabled by discovery, and its
// devices; and every fault the board injects into those hosts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "board/simulated_board.h"
#include "discovery/discovery.h"
#include "ntemu/clock.h"
#include "ntemu/event.h"
#include "support/driver_harness.h"
#include "support/host_calls.h"

namespace omzi2c::testing {
namespace {

constexpr uint8_t kEeprom = board::address::kFirstModule << 1;
constexpr uint8_t kSensor = board::address::kTemperatureSensor << 1;
constexpr uint8_t kBlocks = board::address::kBlockDevice << 1;
constexpr uint8_t kAbsent = 0x33 << 1;

Bytes BlockRecord(uint8_t address, uint8_t command, uint8_t count, const Bytes& data = {}) {
  Bytes record = SmbRecord(address, command, count, {}, kSmbBlockRecordLength);
  std::copy(data.begin(), data.begin() + std::min<size_t>(data.size(), 32),
            record.begin() + kSmbDataOffset);
  return record;
}

// The request layer's mapping of these results.
uint32_t StatusOf(ResultCode result) {
  if (result == kResultSuccess) return STATUS_SUCCESS;
  if (result == kResultTimeout || result == kResultHostNotReady) return kStatusTransactionTimedOut;
  return kStatusIoDeviceError;
}

// The driver on a fresh board with the test's Chipset and `faults`.
class RegisterHostEndToEnd : public ::testing::TestWithParam<int32_t> {
 protected:
  bool Start(const std::vector<std::string>& faults = {}) {
    harness_.reset();  // its end resets ControllerState
    board::BoardConfig config;
    config.chipset = GetParam();
    board_ = std::make_unique<board::SimulatedBoard>(config);
    std::string error;
    for (const std::string& fault : faults) {
      if (!board_->InjectFault(fault, &error)) return false;
    }
    ntemu::InstallPortSpace(&board_->Ports());
    harness_ = std::make_unique<DriverHarness>(false, true, GetParam());
    Controller.VID = config.vendorId;
    Controller.DID = config.deviceId;
    Controller.Func = config.function;
    EXPECT_TRUE(DiscoverController());
    return true;
  }
  ~RegisterHostEndToEnd() override { ntemu::InstallPortSpace(nullptr); }

  // Every request completes and leaves the bus event as it found it.
  Reply Request(uint32_t code, const Bytes& input, uint32_t out) {
    const Reply reply = harness_->Ioctl(code, input, out);
    EXPECT_TRUE(reply.io.completed);
    EXPECT_EQ(harness_->EventWaits(), harness_->EventSets());
    EXPECT_TRUE(ntemu::IsSignalled(harness_->BusEvent()));
    return reply;
  }

  ntemu::VirtualClock clock_;
  ntemu::ScopedClock useClock_{&clock_};
  std::unique_ptr<board::SimulatedBoard> board_;
  std::unique_ptr<DriverHarness> harness_;
};

// One request.
struct Probe {
  uint32_t code;
  Bytes input;
  uint32_t out;  // not 0: a reading request, which gets the error reply
};
const Probe kReadWord{kIoctlReadWithCommand, SmbRecord(kSensor, 5, 2), 2};
const Probe kReadBlock{kIoctlBlockRead, BlockRecord(kBlocks, 0, 0), 40};
const Probe kReceive{kIoctlReceiveBytes, SmbRecord(kEeprom, 0, 1), 2};
const Probe kSend{kIoctlSendBytes, SmbRecord(kEeprom, 0, 1, {0}), 0};
const Probe kWriteByte{kIoctlWriteWithCommand, SmbRecord(kEeprom, 0x20, 1, {1}), 0};
const Probe kWriteBlock{kIoctlBlockWrite, BlockRecord(kBlocks, 1, 1, {1}), 0};

TEST_P(RegisterHostEndToEnd, EveryControlCodeMovesItsData) {
  ASSERT_TRUE(Start());
  const uint32_t kOk = STATUS_SUCCESS, kNo = kStatusNotSupported;
  const Bytes full = Counting(0x80, 32);
  const struct {
    uint32_t code;
    Bytes input;
    uint32_t out;
    uint32_t status;
    size_t information;
    Bytes reply;  // the first bytes of the caller's output buffer
  } cases[] = {
      {kIoctlWriteWithCommand, SmbRecord(kEeprom, 0xFF, 3, {1, 2, 3}, 14), 0, kOk, 0, {}},
      {kIoctlReadWithCommand, SmbRecord(kEeprom, 0xFF, 3), 3, kOk, 3, {1, 2, 3}},
      {kIoctlSendBytes, SmbRecord(kEeprom, 0, 1, {0x00}), 0, kOk, 0, {}},
      {kIoctlReceiveBytes, SmbRecord(kEeprom, 0, 2), 3, kOk, 3, {2, 3, 0}},
      {kIoctlReadWithCommand, SmbRecord(kSensor, 5, 2), 2, kOk, 2, {0x02, 0x26}},
      {kIoctlWriteWithCommand, SmbRecord(kSensor, 2, 2, {0xCD, 0x0A}, 13), 0, kOk, 0, {}},
      {kIoctlReadWithCommand, SmbRecord(kSensor, 2, 2), 2, kOk, 2, {0xCD, 0x0A}},
      {kIoctlBlockRead, BlockRecord(kBlocks, 0x00, 0), 40, kOk, 22, {'O', 'M', 'Z', ' ', 'b'}},
      {kIoctlBlockWrite, BlockRecord(kBlocks, 0x21, 40, full), 0, kOk, 0, {}},  // cut to 32
      {kIoctlBlockRead, BlockRecord(kBlocks, 0x21, 0), 40, kOk, 32, full},
      {kIoctlUnsupported, SmbRecord(kEeprom, 0, 1), 0, kNo, 0, {}},
      {kIoctlExchangeMessage, BlockRecord(kEeprom, 0, 1, {1}), 40, kNo, 2, {}},
      {kIoctlWriteMessage, BlockRecord(kEeprom, 0, 1, {1}), 0, kNo, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.code);
    const Reply reply = Request(c.code, c.input, c.out);
    EXPECT_EQ(reply.io.status, static_cast<NTSTATUS>(c.status));
    EXPECT_EQ(reply.io.information, c.information);
    EXPECT_EQ(Bytes(reply.bytes.begin(), reply.bytes.begin() + c.reply.size()), c.reply);
  }
}

constexpr ResultCode kRefused = 0xFF;  // the fault does not apply to this host

TEST_P(RegisterHostEndToEnd, EveryFaultGivesItsStatusAndErrorReply) {
  const struct {
    std::vector<std::string> faults;
    Probe probe;
    ResultCode dualStatus, startPort;
  } cases[] = {
      {{"busy-stuck"}, kReadWord, kResultTimeout, kResultTimeout},
      {{"second-busy-stuck"}, kReadWord, kResultTimeout, kRefused},
      {{"not-idle"}, kReadWord, kRefused, kResultBusError},
      {{"never-starts"}, kReadWord, kResultHostNotReady, kResultTimeout},
      {{"never-finishes"}, kWriteBlock, kResultTimeout, kResultTimeout},
      // Start-port: done after 9000 pauses, idle 2000 later; the shared budget is spent.
      {{"done-late"}, kReadWord, kRefused, kResultTimeout},
      {{"failed"}, kReadWord, kResultFailed, kResultFailed},
      {{"collision"}, kSend, kResultCollisionOrDeviceError, kResultBusError},
      {{"device-error"}, kReceive, kResultDeviceError, kResultDeviceError},
      {{"device-error", "collision", "failed"}, kReadBlock, kResultFailed, kResultFailed},
      {{"device-error", "collision"}, kReadWord, kResultCollisionOrDeviceError, kResultBusError},
      {{"alert"}, kReadWord, kRefused, kRefused},
      {{"block-count-0"}, kReadBlock, kResultDeviceError, kResultDeviceError},
      {{"block-count-33"}, kReadBlock, kResultDeviceError, kResultDeviceError},
      {{"nak"}, kReadWord, kResultDeviceError, kResultDeviceError},
      {{"eeprom-write-protect"}, kWriteByte, kResultDeviceError, kResultDeviceError},
      // The block device refuses a block of nothing, which these hosts still send.
      {{},
       {kIoctlBlockWrite, BlockRecord(kBlocks, 0x30, 0), 0},
       kResultDeviceError,
       kResultDeviceError},
      {{},
       {kIoctlReadWithCommand, SmbRecord(kAbsent, 0, 1), 2},
       kResultDeviceError,
       kResultDeviceError},
  };
  for (const auto& c : cases) {
    const ResultCode result = GetParam() == 1 ? c.startPort : c.dualStatus;
    SCOPED_TRACE(c.faults.empty() ? "none" : c.faults.front());
    ASSERT_EQ(Start(c.faults), result != kRefused);
    if (result == kRefused) continue;
    clock_.ClearPauses();
    Controller.LastHostStatus = 0x5A;  // left by an earlier request; echoed as it is
    const Probe& p = c.probe;
    const Reply reply = Request(p.code, p.input, p.out);
    EXPECT_EQ(reply.io.status, static_cast<NTSTATUS>(StatusOf(result)));
    if (p.out != 0) {  // a reading request: the error reply
      EXPECT_EQ(reply.io.information, kSmbErrorReplyLength);
      EXPECT_EQ(Bytes(reply.io.systemBuffer.begin(), reply.io.systemBuffer.begin() + 2),
                (Bytes{static_cast<uint8_t>(result), 0x5A}));
    }
    // 1 ms apart: nine attempts of a read with a command, eight of a single
    // received or written byte, one of a send or a block.
    const std::vector<ntemu::Pause> pauses = clock_.Pauses();
    const size_t retries = std::count(pauses.begin(), pauses.end(), ntemu::Sleep100ns(10000));
    const bool perByte = p.code == kIoctlReceiveBytes || p.code == kIoctlWriteWithCommand;
    EXPECT_EQ(retries, p.code == kIoctlReadWithCommand ? 8u : perByte ? 7u : 0u);
  }
}

// The start-port model is done after 9000 status reads (9000 pauses of the
// driver); the driver's shared budget leaves room for idle 1000 pauses later.
using StartPortEndToEnd = RegisterHostEndToEnd;

TEST_P(StartPortEndToEnd, HostIsIdleJustInTimeOrTooLate) {
  for (const uint32_t settle : {1001u, 1002u}) {
    ASSERT_TRUE(Start());
    board_->StartPortHost()->SetBusyReads(9000);
    board_->StartPortHost()->SetSettleReads(settle);
    const Reply reply = Request(kReadWord.code, kReadWord.input, kReadWord.out);
    EXPECT_EQ(reply.io.status, settle == 1001 ? STATUS_SUCCESS : kStatusTransactionTimedOut);
  }
}

INSTANTIATE_TEST_SUITE_P(Chipsets, RegisterHostEndToEnd, ::testing::Values(1, 8, 9));
INSTANTIATE_TEST_SUITE_P(Chipset, StartPortEndToEnd, ::testing::Values(1));

}  // namespace
}  // namespace omzi2c::testing
