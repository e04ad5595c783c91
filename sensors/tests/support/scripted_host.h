// A rig for register-level back-end tests: a recording port space that
// answers from a script, a virtual clock, and a timeline that keeps port
// accesses and pauses in one list, with ControllerState pointing at a host
// of one Chipset at a base.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "ntemu/clock.h"
#include "ntemu/port_space.h"
#include "ntemu/trace.h"
#include "support/port_sequence.h"

namespace omzi2c::testing {

class ScriptedHostTest : public ::testing::Test {
 protected:
  ScriptedHostTest(int32_t chipset, uint16_t base);
  ~ScriptedHostTest() override;

  // Queues one read answer per value at `port`.
  void Script(uint32_t port, std::initializer_list<uint8_t> values);
  // Scripts the answer of every read in `expected`, in order.
  void ScriptReads(const Sequence& expected);
  const Sequence& Log() const { return recording_.Accesses(); }
  // The accesses after the first `skip`.
  Sequence Tail(size_t skip) const;
  Events Timeline() const { return Recorded(timeline_); }
  void ClearLogs();

  ntemu::RecordingPortSpace recording_;
  ntemu::VirtualClock clock_;
  ntemu::Timeline timeline_;
  ntemu::ScopedPortSpace usePorts_{&recording_};
  ntemu::ScopedClock useClock_{&clock_};
  ntemu::ScopedTraceSink useTimeline_{&timeline_};
};

}  // namespace omzi2c::testing
