#include "support/scripted_host.h"

#include "controller_state.h"

namespace omzi2c::testing {

ScriptedHostTest::ScriptedHostTest(int32_t chipset, uint16_t base) {
  Controller = ControllerState{};
  Controller.I2CDriverEnable = 1;
  Controller.Chipset = chipset;
  Controller.SmbBase = base;
}

ScriptedHostTest::~ScriptedHostTest() {
  Controller = ControllerState{};
}

void ScriptedHostTest::Script(uint32_t port, std::initializer_list<uint8_t> values) {
  for (uint8_t value : values)
    recording_.Queue(port, value);
}

void ScriptedHostTest::ScriptReads(const Sequence& expected) {
  for (const ntemu::PortAccess& access : expected) {
    if (access.direction == ntemu::Direction::Read) recording_.Queue(access.port, access.value);
  }
}

Sequence ScriptedHostTest::Tail(size_t skip) const {
  return Sequence(Log().begin() + static_cast<std::ptrdiff_t>(skip), Log().end());
}

void ScriptedHostTest::ClearLogs() {
  recording_.ClearLog();
  timeline_.Clear();
  clock_.ClearPauses();
}

}  // namespace omzi2c::testing
