#include "support/scripted_host.h"

#include <algorithm>

#include "controller_state.h"
#include "ntemu/trace.h"

namespace omzi2c::testing {

ScriptedHostTest::ScriptedHostTest(int32_t chipset, uint16_t base) : base_(base) {
  Controller = ControllerState{};
  Controller.I2CDriverEnable = 1;
  Controller.Chipset = chipset;
  Controller.SmbBase = base;
}

ScriptedHostTest::~ScriptedHostTest() {
  Controller = ControllerState{};
}

void ScriptedHostTest::Expect(const Call& call, const std::string& script, ResultCode result,
                              const Bytes* out) {
  const Events expected = ParseScript(base_, script);
  ntemu::RecordingPortSpace recording;
  ntemu::VirtualClock clock;
  ntemu::Timeline timeline;
  ntemu::ScopedPortSpace usePorts(&recording);
  ntemu::ScopedClock useClock(&clock);
  ntemu::ScopedTraceSink useTimeline(&timeline);
  for (const Event& e : expected) {
    if (!e.isPause && e.access.direction == ntemu::Direction::Read) {
      recording.Queue(e.access.port, e.access.value);
    }
  }
  Bytes got;
  EXPECT_EQ(call(&got), result);
  EXPECT_EQ(got, out ? *out : Bytes(got.size(), kUntouched));
  const Events seen = Recorded(timeline);
  EXPECT_EQ(seen.size(), expected.size());
  const size_t n = std::min(seen.size(), expected.size());
  const size_t first =
      std::mismatch(seen.begin(), seen.begin() + n, expected.begin()).first - seen.begin();
  if (first < n) {
    ADD_FAILURE() << "first difference at step " << first << ": " << seen[first] << ", expected "
                  << expected[first];
  }
}

}  // namespace omzi2c::testing
