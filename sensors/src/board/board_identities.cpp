#include "board/board_identities.h"

#include "board/simulated_board.h"

namespace board {

namespace {

constexpr uint32_t kSmbusClass = 0x0C0500;
constexpr uint32_t kOtherBridgeClass = 0x068000;
constexpr uint32_t kIsaBridgeClass = 0x060100;
constexpr uint32_t kAudioClass = 0x040300;

struct KindIdentity {
  uint16_t vendorId, deviceId;
  uint8_t device;
  uint8_t function;
  uint32_t classCode;
  uint16_t bridgeDeviceId;  // function 0, same vendor; 0 when the host is function 0
};

// Kinds 1..10. Real ones: ICH9 and ICH10 SMBus (00:1f.3 beside the LPC
// bridge), PIIX4 ACPI (00:01.3, QEMU's pc), VIA VT82C596B (00:07.3) and
// VT82C686 (00:07.4) power management, AMD-8111 SMBus 2.0 (00:07.2).
KindIdentity IdentityOf(int chipset) {
  switch (chipset) {
    case 2:
      return {0x8086, 0x2930, 0x1F, 3, kSmbusClass, 0x2918};
    case 3:
      return {0x8086, 0x3A30, 0x1F, 3, kSmbusClass, 0x3A18};
    case 4:
      return {0x8086, 0x7113, 0x01, 3, kOtherBridgeClass, 0x7110};
    case 8:
      return {0x1106, 0x3051, 0x07, 3, kOtherBridgeClass, 0x0596};
    case 9:
      return {0x1106, 0x3057, 0x07, 4, kOtherBridgeClass, 0x0686};
    case 10:
      return {0x1022, 0x746A, 0x07, 2, kSmbusClass, 0x7468};
    default:  // 1, 5, 6, 7: hosts kept in function 0 of the ISA bridge
      return {kSimulatedVendor, static_cast<uint16_t>(chipset), 0x1F, 0, kIsaBridgeClass, 0};
  }
}

}  // namespace

BoardConfig ConfigForKind(int chipset) {
  BoardConfig config;
  config.chipset = chipset;
  if (chipset < 1 || chipset > 10) return config;
  const KindIdentity id = IdentityOf(chipset);
  config.vendorId = id.vendorId;
  config.deviceId = id.deviceId;
  config.function = id.function;
  config.hostFunction = id.function;
  config.hostClass = id.classCode;
  config.device = PciDevice{id.device};
  if (id.bridgeDeviceId != 0) {
    config.neighbours.push_back({0, id.vendorId, id.bridgeDeviceId, kIsaBridgeClass});
  }
  return config;
}

BoardConfig HostAtFunction4Config() {
  BoardConfig config;
  config.chipset = 2;
  config.vendorId = 0x8086;
  config.deviceId = 0xA123;  // 100 Series SMBus
  config.function = 4;
  config.hostFunction = 4;
  config.hostClass = kSmbusClass;
  config.neighbours = {{0, 0x8086, 0xA143, kIsaBridgeClass},  // LPC
                       {3, 0x8086, 0xA170, kAudioClass}};
  return config;
}

bool SimulatedOnly(const BoardConfig& config) {
  return config.vendorId == kSimulatedVendor;
}

}  // namespace board
