#include <gtest/gtest.h>

#include "ntemu/clock.h"
#include "ntemu/port_space.h"
#include "platform/port_io.h"

namespace {

using ntemu::BusyWaitUs;
using ntemu::Pause;
using ntemu::Sleep100ns;

std::vector<Pause> PausesOf(ULONG t) {
  ntemu::VirtualClock clock;
  ntemu::ScopedClock use(&clock);
  SmbDelay(t);
  return clock.Pauses();
}

TEST(SmbDelay, BusyWaitsUpToFiveHundredAndSleepsAbove) {
  EXPECT_EQ(PausesOf(500), std::vector<Pause>{BusyWaitUs(50)});
  EXPECT_EQ(PausesOf(501), std::vector<Pause>{Sleep100ns(501)});
  EXPECT_EQ(PausesOf(100), std::vector<Pause>{BusyWaitUs(10)});
  EXPECT_EQ(PausesOf(15), std::vector<Pause>{BusyWaitUs(1)});  // integer division
  EXPECT_EQ(PausesOf(10000), std::vector<Pause>{Sleep100ns(10000)});
  EXPECT_EQ(PausesOf(8000000), std::vector<Pause>{Sleep100ns(8000000)});
}

TEST(SmbDelay, BelowOneMicrosecondReturnsAtOnce) {
  EXPECT_TRUE(PausesOf(5).empty());
  EXPECT_TRUE(PausesOf(0).empty());
  EXPECT_TRUE(PausesOf(9).empty());
}

TEST(SmbDelay, VirtualTimeAdvancesWithoutWaiting) {
  ntemu::VirtualClock clock;
  ntemu::ScopedClock use(&clock);
  SmbDelay(8000000);  // 0.8 s of virtual time
  SmbDelay(500);
  EXPECT_EQ(clock.Now(), 8000000u + 500u);
}

TEST(SmbDelay, AClockThatOnlyKeepsTimeRecordsNothing) {
  ntemu::VirtualClock clock(/*recordPauses=*/false);
  ntemu::ScopedClock use(&clock);
  SmbDelay(10000);
  SmbDelay(500);
  EXPECT_TRUE(clock.Pauses().empty());
  EXPECT_EQ(clock.Now(), 10500u);
}

TEST(SmbDelay, TouchesNoPort) {
  ntemu::RecordingPortSpace ports;
  ntemu::ScopedPortSpace use(&ports);
  ntemu::VirtualClock clock;
  ntemu::ScopedClock useClock(&clock);
  SmbDelay(500);
  SmbDelay(10000);
  EXPECT_TRUE(ports.Accesses().empty());
}

}  // namespace
