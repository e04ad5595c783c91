// A rig for register-level back-end tests: a recording port space that
// answers the reads of an expected script, a virtual clock, and a timeline
// that keeps port accesses and pauses in one list, with ControllerState
// pointing at a host of one Chipset at a base.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ntemu/clock.h"
#include "ntemu/port_space.h"
#include "support/host_calls.h"
#include "support/port_script.h"

namespace omzi2c::testing {

class ScriptedHostTest : public ::testing::Test {
 protected:
  ScriptedHostTest(int32_t chipset, uint16_t base);
  ~ScriptedHostTest() override;

  // Runs `call` against a host that answers the reads of `script`, and
  // expects `result`, exactly the accesses and pauses of `script`, and `out`
  // as the out-parameters (nullptr: every one left untouched).
  void Expect(const Call& call, const std::string& script, ResultCode result,
              const Bytes* out = nullptr);

 private:
  uint16_t base_;
};

}  // namespace omzi2c::testing
