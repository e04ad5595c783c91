// The dual-status (Chipset 8, 9) and start-port (Chipset 1) back-ends,
// reached through the router, against their host models: every primitive
// moves its data, and every failure the back-ends name is reached through
// the models' fault injection.
#include <gtest/gtest.h>

#include "hosts/host_contract.h"
#include "support/host_calls.h"
#include "support/register_host_board.h"

namespace omzi2c::testing {
namespace {

const HostPrimitives kRouted{Route::ReceiveByte,   Route::SendByte,     Route::ReadByteData,
                             Route::WriteByteData, Route::ReadWordData, Route::WriteWordData,
                             ::BlockRead,          ::BlockWrite};

const UCHAR kEeprom = kEepromAddress.AddressByte();
const UCHAR kSensor = kSensorAddress.AddressByte();
const UCHAR kBlocks = kBlockAddress.AddressByte();

using RegisterHostModel = RegisterHostBoardTest;

TEST_P(RegisterHostModel, EveryPrimitiveReachesItsDeviceAndLeavesTheHostClean) {
  eeprom_.Set(0x10, 0x61);
  eeprom_.Set(0x11, 0x62);
  sensor_.SetRegister(2, 0x0BB8);
  blocks_.SetBlock(0x01, Counting(0xC0, 32));
  const struct {
    Call run;
    Bytes out;
  } cases[] = {
      {ReadByteCall(kRouted, kEeprom, 0x10), {0x61}},
      {ReceiveByteCall(kRouted, kEeprom), {0x62}},
      {SendByteCall(kRouted, kEeprom, 0x10), {}},
      {ReceiveByteCall(kRouted, kEeprom), {0x61}},
      {WriteByteCall(kRouted, kEeprom, 0x12, 0x99), {}},
      {ReadByteCall(kRouted, kEeprom, 0x12), {0x99}},
      {ReadWordCall(kRouted, kSensor, 2), {0xB8, 0x0B}},
      {WriteWordCall(kRouted, kSensor, 3, 0xFACE), {}},
      {ReadWordCall(kRouted, kSensor, 3), {0xCE, 0xFA}},
      {BlockReadCall(kRouted, kBlocks, 0x01), Prefixed(32, Counting(0xC0, 32))},
      {BlockWriteCall(kRouted, kBlocks, 0x02, Counting(0x20, 40)), {}},
      {BlockReadCall(kRouted, kBlocks, 0x02), Prefixed(32, Counting(0x20, 32))},
      {BlockWriteCall(kRouted, kBlocks, 0x03, {9, 8, 7}), {}},
      {BlockReadCall(kRouted, kBlocks, 0x03), {3, 9, 8, 7}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    Bytes out;
    EXPECT_EQ(cases[i].run(&out), kResultSuccess);
    EXPECT_EQ(out, cases[i].out);
    EXPECT_TRUE(HostClean());
  }
  EXPECT_EQ(Starts(), std::size(cases));
  EXPECT_EQ(Kills(), 0u);
  EXPECT_EQ(!clock_.Pauses().empty(), StartPort());  // only this host pauses
}

struct Fault {
  const char* name;
  int chipsets;  // 1: start-port only, 8: dual-status only, 0: both
  void (*inject)(RegisterHostBoardTest&);
  ResultCode result;
};

const Fault kFaults[] = {
    {"BusyStuck", 0,
     [](RegisterHostBoardTest& t) { t.DualFaults().busyStuck = t.StartFaults().busyStuck = true; },
     kResultTimeout},
    {"SecondBusyStuck", 8, [](RegisterHostBoardTest& t) { t.DualFaults().secondBusyStuck = true; },
     kResultTimeout},
    {"NotIdle", 1, [](RegisterHostBoardTest& t) { t.StartFaults().notIdle = true; },
     kResultBusError},
    {"NeverStarts", 8, [](RegisterHostBoardTest& t) { t.DualFaults().neverStarts = true; },
     kResultHostNotReady},
    {"NeverStarts", 1, [](RegisterHostBoardTest& t) { t.StartFaults().neverStarts = true; },
     kResultTimeout},
    {"NeverFinishes", 0,
     [](RegisterHostBoardTest& t) {
       t.DualFaults().neverFinishes = t.StartFaults().neverFinishes = true;
     },
     kResultTimeout},
    // Done after 9000 pauses and idle 2000 later: the shared budget is spent.
    {"DoneLate", 1,
     [](RegisterHostBoardTest& t) {
       t.start_->SetBusyReads(9000);
       t.start_->SetSettleReads(2001);
     },
     kResultTimeout},
    {"DoneLateButInBudget", 1,
     [](RegisterHostBoardTest& t) {
       t.start_->SetBusyReads(9000);
       t.start_->SetSettleReads(1001);
     },
     kResultSuccess},
    {"Failed", 8, [](RegisterHostBoardTest& t) { t.DualFaults().errorFlags = 0x10; },
     kResultFailed},
    {"Collision", 8, [](RegisterHostBoardTest& t) { t.DualFaults().errorFlags = 0x08; },
     kResultCollisionOrDeviceError},
    {"DeviceError", 8, [](RegisterHostBoardTest& t) { t.DualFaults().errorFlags = 0x04; },
     kResultDeviceError},
    {"FailedOverAll", 8, [](RegisterHostBoardTest& t) { t.DualFaults().errorFlags = 0x1C; },
     kResultFailed},
    {"CollisionOverDevice", 8, [](RegisterHostBoardTest& t) { t.DualFaults().errorFlags = 0x0C; },
     kResultCollisionOrDeviceError},
    {"Failed", 1, [](RegisterHostBoardTest& t) { t.StartFaults().errorFlags = 0x80; },
     kResultFailed},
    {"BusError", 1, [](RegisterHostBoardTest& t) { t.StartFaults().errorFlags = 0x40; },
     kResultBusError},
    {"DeviceError", 1, [](RegisterHostBoardTest& t) { t.StartFaults().errorFlags = 0x20; },
     kResultDeviceError},
    {"FailedOverAll", 1, [](RegisterHostBoardTest& t) { t.StartFaults().errorFlags = 0xE0; },
     kResultFailed},
    {"BusErrorOverDevice", 1, [](RegisterHostBoardTest& t) { t.StartFaults().errorFlags = 0x60; },
     kResultBusError},
    {"NoDeviceAnswers", 0, [](RegisterHostBoardTest& t) { t.bus_.Detach(kEepromAddress); },
     kResultDeviceError},
};

TEST_P(RegisterHostModel, EveryFaultGivesItsResultOnEveryPrimitiveAndTheHostRecovers) {
  const int family = StartPort() ? 1 : 8;
  const std::vector<Call> all = EveryPrimitive(kRouted);
  const std::vector<Call> wordRead = {ReadWordCall(kRouted, kSensor, 0)};
  for (const Fault& fault : kFaults) {
    if (fault.chipsets != 0 && fault.chipsets != family) continue;
    SCOPED_TRACE(fault.name);
    // A fault that still lets the transaction through: shown on a device that has words.
    for (const Call& run : fault.result == kResultSuccess ? wordRead : all) {
      fault.inject(*this);
      Bytes out;
      EXPECT_EQ(run(&out), fault.result);
      Heal();
      bus_.Attach(kEepromAddress, &eeprom_);
      EXPECT_EQ(wordRead[0](&out), kResultSuccess);
    }
  }
}

TEST_P(RegisterHostModel, RefusedDataAndBlockCountsOutOfRangeGiveDeviceError) {
  eeprom_.SetWriteProtected(true);
  Bytes out;
  EXPECT_EQ(WriteByteCall(kRouted, kEeprom, 0x20, 0x01)(&out), kResultDeviceError);
  EXPECT_EQ(eeprom_.At(0x20), 0xFF);
  EXPECT_EQ(BlockWriteCall(kRouted, kBlocks, 0x05, {})(&out), kResultDeviceError);  // 0 bytes
  EXPECT_FALSE(blocks_.HasBlock(0x05));
  blocks_.SetBlock(0x01, {1, 2, 3});
  blocks_.SetBlock(0x02, Bytes(33, 0x11));
  const struct {
    uint8_t command;
    int forced;
    uint8_t count;
  } cases[] = {{0x01, 0, 0}, {0x01, 33, 33}, {0x02, -1, 33}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.count));
    DualFaults().blockCount = StartFaults().blockCount = c.forced;
    out.clear();
    EXPECT_EQ(BlockReadCall(kRouted, kBlocks, c.command)(&out), kResultDeviceError);
    EXPECT_EQ(out, (c.count == 0 ? Bytes{0} : Bytes{c.count}));
    EXPECT_TRUE(HostClean());
  }
}

INSTANTIATE_TEST_SUITE_P(Chipsets, RegisterHostModel, ::testing::Values(1, 8, 9));

}  // namespace
}  // namespace omzi2c::testing
