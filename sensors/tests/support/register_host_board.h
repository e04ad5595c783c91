// A rig for the dual-status (Chipset 8, 9) and start-port (Chipset 1) host
// models: the model of the test's Chipset at a fixed base on a simulated
// SMBus with the same devices as the byte-done rig, behind a recording port
// space, with a virtual clock and ControllerState pointing at the host.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "board/dual_status_host_model.h"
#include "board/start_port_host_model.h"
#include "support/byte_done_board.h"

namespace omzi2c::testing {

constexpr uint16_t kRegisterHostBase = 0x0680;

class RegisterHostBoardTest : public ::testing::TestWithParam<int32_t> {
 public:  // open to the tests' fault tables
  RegisterHostBoardTest();
  ~RegisterHostBoardTest() override;

  bool StartPort() const { return GetParam() == 1; }
  board::DualStatusFaults& DualFaults() { return dual_->Faults(); }
  board::StartPortFaults& StartFaults() { return start_->Faults(); }
  // Faults off, models back to their default timing.
  void Heal();
  // Starts and aborts or kills the model has seen.
  uint32_t Starts() const;
  uint32_t Kills() const;
  // Idle, nothing running, no flag latched.
  bool HostClean() const;

  board::PortMap ports_;
  board::SmbusBus bus_;
  board::SpdEeprom eeprom_;
  board::WordRegisterDevice sensor_;
  board::BlockDevice blocks_;
  std::unique_ptr<board::DualStatusHostModel> dual_;
  std::unique_ptr<board::StartPortHostModel> start_;
  ntemu::RecordingPortSpace recording_{&ports_};
  ntemu::VirtualClock clock_;
  ntemu::ScopedPortSpace usePorts_{&recording_};
  ntemu::ScopedClock useClock_{&clock_};
};

}  // namespace omzi2c::testing
