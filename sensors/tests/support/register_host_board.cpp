#include "support/register_host_board.h"

#include "controller_state.h"

namespace omzi2c::testing {

RegisterHostBoardTest::RegisterHostBoardTest()
    : dual_(std::make_unique<board::DualStatusHostModel>(bus_, kRegisterHostBase)),
      start_(std::make_unique<board::StartPortHostModel>(bus_, kRegisterHostBase)) {
  if (StartPort()) {
    start_->MapInto(ports_);
  } else {
    dual_->MapInto(ports_);
  }
  Heal();
  bus_.Attach(kEepromAddress, &eeprom_);
  bus_.Attach(kSensorAddress, &sensor_);
  bus_.Attach(kBlockAddress, &blocks_);
  Controller = ControllerState{};
  Controller.I2CDriverEnable = 1;
  Controller.Chipset = GetParam();
  Controller.SmbBase = kRegisterHostBase;
}

RegisterHostBoardTest::~RegisterHostBoardTest() {
  Controller = ControllerState{};
}

void RegisterHostBoardTest::Heal() {
  dual_->Faults() = board::DualStatusFaults{};
  dual_->SetBusyReads(3);
  start_->Faults() = board::StartPortFaults{};
  start_->SetBusyReads(3);
  start_->SetSettleReads(2);
}

uint32_t RegisterHostBoardTest::Starts() const {
  return StartPort() ? start_->State().starts : dual_->State().starts;
}

uint32_t RegisterHostBoardTest::Kills() const {
  return StartPort() ? start_->State().kills : dual_->State().aborts;
}

bool RegisterHostBoardTest::HostClean() const {
  if (StartPort()) {
    return start_->State().phase == board::StartPortPhase::Idle && start_->State().status == 0;
  }
  return !dual_->State().running && dual_->State().status == 0;
}

}  // namespace omzi2c::testing
