// The paced-poll host back-end (Chipset 4, 5 and 6), port by port and pause
// by pause: each case states the time line the driver must produce, and the
// reads in it answer the driver's reads.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "controller_state.h"
#include "hosts/paced_poll_host.h"
#include "support/timeline.h"

namespace omzi2c::testing {
namespace {

using ntemu::In32;
using ntemu::In8;
using ntemu::Out32;
using ntemu::Out8;

constexpr uint32_t kBase = 0x0600;
constexpr uint32_t kStatus = kBase + 0, kSecond = kBase + 1, kControl = kBase + 2,
                   kCommand = kBase + 3, kAddress = kBase + 4, kData0 = kBase + 5,
                   kData1 = kBase + 6, kBlockData = kBase + 7;
constexpr uint32_t kSavedDevice = 0x1F;
constexpr uint32_t kSavedBase = kBase | 0x01;
constexpr uint32_t kSavedHost = 0x00A10000;
constexpr uint32_t kConfig40 = 0x00A02010;  // the pulsed bit already set
constexpr uint8_t kLeftOver = 0x5A;         // LastHostStatus from an earlier request

Steps R(uint32_t port, uint8_t value) {
  return {At(In8(port, value))};
}
Steps W(uint32_t port, uint8_t value) {
  return {At(Out8(port, value))};
}
Steps Nap(uint64_t length = 5000) {
  return {SleepFor(length)};
}
Steps Clear(uint8_t value) {
  return R(kStatus, value) + W(kStatus, value);
}
Steps Aux(int chipset) {
  if (chipset != 5) return {};
  return W(0xC50, 0x12) + Times(R(0xC51, 0xFF), 32);
}
Steps ConfigWrite(uint32_t offset, uint32_t value) {
  const uint32_t address = 0x80000000u | kSavedDevice << 11 | offset;
  return {At(Out32(0xCF8, address)), At(Out32(0xCFC, value))};
}
Steps Recovery() {
  const uint32_t address = 0x80000000u | kSavedDevice << 11 | 0x40;
  return Steps{At(Out32(0xCF8, address)), At(In32(0xCFC, kConfig40))} +
         ConfigWrite(0x40, kConfig40 | 0x10) + ConfigWrite(0x40, kConfig40 & ~0x10u) +
         ConfigWrite(0x90, kSavedBase) + ConfigWrite(0xD0, kSavedHost);
}
// WaitIdle on a free host.
Steps Idle(int chipset) {
  if (chipset == 4) return R(kStatus, 0x00) + R(kSecond, 0x00) + Clear(0x00);
  return Aux(chipset) + R(kStatus, 0x00) + Clear(0x00);
}
// Chipset 5/6 WaitIdle on a host busy for `polls` polls (at most 80), then
// free; at 81 busy polls it times out on the status `last`.
Steps PacedBusy(int chipset, uint32_t polls, uint8_t last = 0x41) {
  Steps steps = Aux(chipset) + R(kStatus, polls > 0 ? 0x01 : 0x00);
  for (uint32_t k = 0; k < polls && k < 80; ++k) {
    steps = steps + Aux(chipset);
    if (chipset == 6 && (k == 20 || k == 40 || k == 60)) steps = steps + Recovery();
    steps = steps + Nap() + R(kStatus, k + 1 < polls ? 0x01 : 0x00);
  }
  if (polls <= 80) return steps + Clear(0x00);
  return steps + Aux(chipset) + R(kStatus, last);
}
// WaitDone: busy seen, then `final` with busy clear.
Steps Done(uint8_t final = 0x02) {
  return R(kStatus, 0x01) + R(kStatus, final) + Clear(final);
}
Steps SendTx(int chipset, uint8_t byte, uint8_t final = 0x02) {
  return Idle(chipset) + W(kAddress, 0xB0) + W(kCommand, byte) + W(kControl, 0x44) + Done(final);
}
Steps ReceiveTx(int chipset, uint8_t byte) {
  return Idle(chipset) + W(kAddress, 0xB1) + W(kControl, 0x44) + Done() + R(kData0, byte);
}

class PacedPollPorts : public ::testing::TestWithParam<int> {
 protected:
  PacedPollPorts() {
    Controller = ControllerState{};
    Controller.Chipset = GetParam();
    Controller.SmbBase = kBase;
    Controller.SavedHostDevice = kSavedDevice;
    Controller.SavedBaseConfig = kSavedBase;
    Controller.SavedHostConfig = kSavedHost;
    Controller.LastHostStatus = kLeftOver;
  }
  ~PacedPollPorts() override { Controller = ControllerState{}; }

  int Chipset() const { return GetParam(); }
  // Runs `operation` against the scripted time line and compares.
  ResultCode Run(const Steps& expected, const std::function<ResultCode()>& operation) {
    timeline_.Script(expected);
    const ResultCode result = operation();
    EXPECT_EQ(timeline_.Recorded(), expected);
    return result;
  }

  Timeline timeline_;
  ntemu::ScopedPortSpace usePorts_{&timeline_};
  ntemu::ScopedClock useClock_{&timeline_};
};

// Out-parameters of the primitives under test.
UCHAR byteRead;
USHORT wordRead;

struct PrimitiveCase {
  const char* name;
  Steps setup;  // register writes before the start
  uint8_t start;
  Steps reads;     // after WaitDone
  uint32_t value;  // byteRead | wordRead afterwards
  ResultCode (*run)();
};

// clang-format off
const PrimitiveCase kPrimitives[] = {
    {"ReceiveByte", W(kAddress, 0xA1), 0x44, R(kData0, 0x77), 0x77,
     [] { return PacedPollHost::ReceiveByte(0xA0, &byteRead); }},
    {"SendByteUsesTheCommandRegister", W(kAddress, 0xA0) + W(kCommand, 0x3C), 0x44, {}, 0,
     [] { return PacedPollHost::SendByte(0xA1, 0x3C); }},
    {"ReadByteData", W(kAddress, 0xA1) + W(kCommand, 0x10), 0x48, R(kData0, 0x5A), 0x5A,
     [] { return PacedPollHost::ReadByteData(0xA0, 0x10, &byteRead); }},
    {"WriteByteData", W(kAddress, 0xA0) + W(kCommand, 0x22) + W(kData0, 0x99), 0x48, {}, 0,
     [] { return PacedPollHost::WriteByteData(0xA1, 0x22, 0x99); }},
    {"ReadWordDataLowFirst", W(kAddress, 0x5D) + W(kCommand, 0x07), 0x4C,
     R(kData0, 0x34) + R(kData1, 0x12), 0x1234,
     [] { return PacedPollHost::ReadWordData(0x5C, 0x07, &wordRead); }},
    {"WriteWordDataLowFirst",
     W(kAddress, 0x5C) + W(kCommand, 0x07) + W(kData0, 0x34) + W(kData1, 0x12), 0x4C, {}, 0,
     [] { return PacedPollHost::WriteWordData(0x5C, 0x07, 0x1234); }},
};
// clang-format on

TEST_P(PacedPollPorts, EveryPrimitiveWaitsProgramsStartsWaitsAndReads) {
  for (const PrimitiveCase& c : kPrimitives) {
    SCOPED_TRACE(c.name);
    timeline_.Clear();
    byteRead = 0;
    wordRead = 0;
    EXPECT_EQ(Run(Idle(Chipset()) + c.setup + W(kControl, c.start) + Done() + c.reads, c.run),
              kResultSuccess);
    EXPECT_EQ(byteRead | wordRead, c.value);
  }
  EXPECT_EQ(Controller.LastHostStatus, kLeftOver);
}

TEST_P(PacedPollPorts, FinalStatusDecidesFailedThenBusErrorThenDeviceError) {
  const struct {
    uint8_t final;
    ResultCode result;
  } cases[] = {{0x02, kResultSuccess},     {0x00, kResultSuccess},    {0x14, kResultFailed},
               {0x1C, kResultFailed},      {0x0C, kResultBusError},   {0x0E, kResultBusError},
               {0x04, kResultDeviceError}, {0x06, kResultDeviceError}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.final);
    timeline_.Clear();
    UCHAR byte = 0xAB;
    const Steps data = c.result == kResultSuccess ? R(kData0, 0x11) : Steps{};
    EXPECT_EQ(Run(Idle(Chipset()) + W(kAddress, 0xA1) + W(kControl, 0x44) + Done(c.final) + data,
                  [&] { return PacedPollHost::ReceiveByte(0xA0, &byte); }),
              c.result);
    EXPECT_EQ(byte, c.result == kResultSuccess ? 0x11 : 0xAB);
  }
}

TEST_P(PacedPollPorts, CompletionTimeoutsLeaveTheHostAsItIs) {
  const Steps started = Idle(Chipset()) + W(kAddress, 0xA1) + W(kControl, 0x44);
  // Neither busy nor done: 41 polls, 40 pauses, nothing cleared.
  const Steps never = R(kStatus, 0x04) + Times(Nap() + R(kStatus, 0x04), 40);
  UCHAR byte = 0xAB;
  EXPECT_EQ(Run(started + never, [&] { return PacedPollHost::ReceiveByte(0xA0, &byte); }),
            kResultHostNotReady);
  EXPECT_EQ(Controller.LastHostStatus, kLeftOver);
  // Busy that never clears: the status read after the budget is recorded.
  timeline_.Clear();
  const Steps stuck =
      R(kStatus, 0x01) + R(kStatus, 0x03) + Times(Nap() + R(kStatus, 0x03), 40) + R(kStatus, 0x43);
  EXPECT_EQ(Run(started + stuck, [&] { return PacedPollHost::ReceiveByte(0xA0, &byte); }),
            kResultTimeout);
  EXPECT_EQ(Controller.LastHostStatus, 0x43);
  EXPECT_EQ(byte, 0xAB);
}

TEST_P(PacedPollPorts, BlockCountsAndTheRewindingControlRead) {
  const Steps head =
      Idle(Chipset()) + W(kAddress, 0x89) + W(kCommand, 0x10) + W(kControl, 0x54) + Done();
  for (uint8_t count : {32, 1, 0, 33}) {
    SCOPED_TRACE(count);
    timeline_.Clear();
    const bool good = count >= 1 && count <= 32;
    Steps data;
    for (uint8_t i = 0; good && i < count; ++i)
      data = data + R(kBlockData, static_cast<uint8_t>(0xC0 + i));
    UCHAR buffer[32] = {};
    UCHAR got = 0;
    EXPECT_EQ(Run(head + R(kData0, count) + (good ? R(kControl, 0x14) + data : Steps{}),
                  [&] { return PacedPollHost::BlockRead(0x88, 0x10, buffer, &got); }),
              good ? kResultSuccess : kResultDeviceError);
    EXPECT_EQ(got, count);
    EXPECT_EQ(buffer[good ? count - 1 : 0], good ? 0xC0 + count - 1 : 0);
  }
  for (uint8_t count : {40, 0}) {
    SCOPED_TRACE(count);
    timeline_.Clear();
    UCHAR buffer[40];
    Steps data;
    for (uint8_t i = 0; i < 40; ++i) {
      buffer[i] = static_cast<UCHAR>(0x60 + i);
      if (i < count && i < 32) data = data + W(kBlockData, buffer[i]);
    }
    const uint8_t sent = count > 32 ? 32 : count;
    EXPECT_EQ(Run(Idle(Chipset()) + W(kAddress, 0x88) + W(kCommand, 0x20) + W(kData0, sent) +
                      R(kControl, 0x14) + data + W(kControl, 0x54) + Done(),
                  [&] { return PacedPollHost::BlockWrite(0x89, 0x20, buffer, count); }),
              kResultSuccess);
  }
}

INSTANTIATE_TEST_SUITE_P(Chipsets, PacedPollPorts, ::testing::Values(4, 5, 6));

using Chipset4Ports = PacedPollPorts;

TEST_P(Chipset4Ports, IdleWaitSpinsOnBothBusyBitsThenKills) {
  // Second status busy alone keeps the wait going; status busy skips it.
  const Steps second = R(kStatus, 0x00) + R(kSecond, 0x01);
  EXPECT_EQ(
      Run(R(kStatus, 0x01) + Times(second, 3) + R(kStatus, 0x00) + R(kSecond, 0x00) + Clear(0x06),
          [] { return PacedPollHost::WaitIdle(); }),
      kResultSuccess);
  // The first poll and 10000 more, no pause; then kill and clear.
  for (const Steps& busy : {R(kStatus, 0x01), second}) {
    timeline_.Clear();
    EXPECT_EQ(Run(Times(busy, 10001) + W(kControl, 0x02) + W(kControl, 0x00) + Clear(0x01),
                  [] { return PacedPollHost::WaitIdle(); }),
              kResultTimeout);
  }
  EXPECT_EQ(Controller.LastHostStatus, kLeftOver);
}

INSTANTIATE_TEST_SUITE_P(Chipset, Chipset4Ports, ::testing::Values(4));

using Chipset56Ports = PacedPollPorts;

TEST_P(Chipset56Ports, IdleWaitPacesRecoversAndRecordsTheStatusAtTimeout) {
  for (uint32_t polls : {0u, 1u, 25u, 80u}) {
    SCOPED_TRACE(polls);
    timeline_.Clear();
    EXPECT_EQ(Run(PacedBusy(Chipset(), polls), [] { return PacedPollHost::WaitIdle(); }),
              kResultSuccess);
    EXPECT_EQ(Controller.LastHostStatus, kLeftOver);
  }
  timeline_.Clear();
  EXPECT_EQ(Run(PacedBusy(Chipset(), 81, 0x45), [] { return PacedPollHost::WaitIdle(); }),
            kResultTimeout);
  EXPECT_EQ(Controller.LastHostStatus, 0x45);
}

struct ExchangeCase {
  const char* name;
  std::vector<uint8_t> message;
  ULONG limit;
  int failingSend;  // index of the send that fails, or -1
  int replyLength;  // the length byte the device sends
  ResultCode result;
};

TEST_P(Chipset56Ports, ExchangeSendsPausesReceivesAndRefusesWhatWouldNotFit) {
  const ExchangeCase cases[] = {
      {"Count3Reply5", {0x11, 0x22, 0x33}, 32, -1, 5, kResultSuccess},
      {"ReplyOneBelowTheLimit", {0x11}, 6, -1, 5, kResultSuccess},
      {"ReplyAtTheLimit", {0x11}, 6, -1, 6, kResultFailed},
      {"Reply255WithRoomFor256", {0x11}, 256, -1, 255, kResultSuccess},
      {"SecondSendFails", {0x11, 0x22, 0x33}, 32, 1, 0, kResultDeviceError},
  };
  for (const ExchangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    timeline_.Clear();
    Steps expected;
    for (size_t i = 0; i < c.message.size(); ++i) {
      const bool fails = static_cast<int>(i) == c.failingSend;
      expected = expected + SendTx(Chipset(), c.message[i], fails ? 0x04 : 0x02) + Nap(2500);
      if (fails) break;
    }
    if (c.failingSend < 0) expected = expected + ReceiveTx(Chipset(), uint8_t(c.replyLength));
    const bool fits = c.failingSend < 0 && static_cast<ULONG>(c.replyLength) < c.limit;
    for (int i = 1; fits && i <= c.replyLength; ++i) {
      if (Chipset() == 6) expected = expected + Nap(4000);
      expected = expected + ReceiveTx(Chipset(), static_cast<uint8_t>(0x80 + i));
    }
    if (c.result != kResultSuccess) expected = expected + Nap(8000000);
    std::vector<UCHAR> buffer(300, 0xEE);
    std::copy(c.message.begin(), c.message.end(), buffer.begin());
    UCHAR count = static_cast<UCHAR>(c.message.size());
    EXPECT_EQ(
        Run(expected,
            [&] { return PacedPollHost::ExchangeMessage(0xB1, buffer.data(), &count, c.limit); }),
        c.result);
    if (c.result != kResultSuccess) {
      EXPECT_EQ(count, 0);
      EXPECT_EQ(buffer[0], 0x11);  // nothing stored
      continue;
    }
    EXPECT_EQ(count, c.replyLength);
    EXPECT_EQ(buffer[0], c.replyLength);
    EXPECT_EQ(buffer[c.replyLength], static_cast<uint8_t>(0x80 + c.replyLength));
    EXPECT_EQ(buffer[c.replyLength + 1], 0xEE);  // exactly length + 1 bytes filled
  }
}

TEST_P(Chipset56Ports, MessageWritePausesAfterEachByteAndStopsAtAFailure) {
  const UCHAR message[] = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(Run(SendTx(Chipset(), 0x01) + Nap(1000) + SendTx(Chipset(), 0x02) + Nap(1000),
                [&] { return PacedPollHost::WriteMessage(0xB0, message, 2); }),
            kResultSuccess);
  timeline_.Clear();
  EXPECT_EQ(Run(SendTx(Chipset(), 0x01) + Nap(1000) + SendTx(Chipset(), 0x02, 0x08),
                [&] { return PacedPollHost::WriteMessage(0xB0, message, 4); }),
            kResultBusError);
}

TEST_P(Chipset56Ports, EmptyMessagesTouchNothing) {
  UCHAR buffer[8] = {0x42};
  UCHAR count = 0;
  EXPECT_EQ(Run({}, [&] { return PacedPollHost::ExchangeMessage(0xB0, buffer, &count, 32); }),
            kResultFailed);
  EXPECT_EQ(buffer[0], 0x42);
  EXPECT_EQ(Run({}, [&] { return PacedPollHost::WriteMessage(0xB0, buffer, 0); }), kResultSuccess);
}

INSTANTIATE_TEST_SUITE_P(Chipsets, Chipset56Ports, ::testing::Values(5, 6));

}  // namespace
}  // namespace omzi2c::testing
