#include "support/byte_done_board.h"

#include "controller_state.h"

namespace omzi2c::testing {

namespace {

constexpr uint8_t kControlOffset = 2;
constexpr uint8_t kPecBit = 0x80;

void PointControllerAtHost() {
  Controller = ControllerState{};
  Controller.I2CDriverEnable = 1;
  Controller.Chipset = 2;
  Controller.SmbBase = kByteDoneBase;
}

}  // namespace

std::vector<ntemu::PortAccess> PecControlWrites(const std::vector<ntemu::PortAccess>& accesses,
                                                uint16_t base) {
  std::vector<ntemu::PortAccess> found;
  for (const ntemu::PortAccess& access : accesses) {
    if (access.direction == ntemu::Direction::Write &&
        access.port == static_cast<uint32_t>(base + kControlOffset) &&
        (access.value & kPecBit) != 0) {
      found.push_back(access);
    }
  }
  return found;
}

ByteDoneBoard::ByteDoneBoard() {
  host.MapInto(ports);
  bus.Attach(kEepromAddress, &eeprom);
  bus.Attach(kSensorAddress, &sensor);
  bus.Attach(kBlockAddress, &blocks);
}

ByteDoneScriptTest::ByteDoneScriptTest() {
  PointControllerAtHost();
}
ByteDoneScriptTest::~ByteDoneScriptTest() {
  Controller = ControllerState{};
}
void ByteDoneScriptTest::TearDown() {
  EXPECT_EQ(PecControlWrites(recording_.Accesses()), std::vector<ntemu::PortAccess>{});
}

ByteDoneBoardTest::ByteDoneBoardTest() {
  PointControllerAtHost();
}
ByteDoneBoardTest::~ByteDoneBoardTest() {
  Controller = ControllerState{};
}
void ByteDoneBoardTest::TearDown() {
  EXPECT_EQ(PecControlWrites(recording_.Accesses()), std::vector<ntemu::PortAccess>{});
  EXPECT_EQ(board_.host.State().pecRequests, 0u);
}

}  // namespace omzi2c::testing
