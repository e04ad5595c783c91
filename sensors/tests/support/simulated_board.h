// A board for start-up and discovery tests: the I/O space, PCI configuration
// space at 0xCF8, and one SMBus host function of a chosen Chipset kind whose
// I/O window is a plain register block (bytes that read back what was
// written), standing in for a controller model.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "board/chipset_hosts.h"
#include "board/pci_config_space.h"
#include "board/port_map.h"

namespace omzi2c::testing {

class RegisterBlock : public board::PortHandler {
 public:
  static constexpr uint8_t kUnwritten = 0x00;

  void Set(uint32_t port, uint8_t value) { bytes_[port] = value; }
  uint8_t Get(uint32_t port) const;
  size_t Accesses() const { return accesses_; }

  uint32_t Read(uint32_t port, board::Width width) override;
  void Write(uint32_t port, board::Width width, uint32_t value) override;

 private:
  std::map<uint32_t, uint8_t> bytes_;
  size_t accesses_ = 0;
};

struct SimulatedBoard {
  // Host function of `chipset` at (bus, device), identification vendorId:deviceId.
  SimulatedBoard(int chipset, uint8_t bus, uint8_t device, uint16_t base,
                 uint16_t vendorId = kVendor, uint16_t deviceId = kDevice);

  static constexpr uint16_t kVendor = 0x1A2B;
  static constexpr uint16_t kDevice = 0x3C4D;

  board::PortMap ports;
  board::PciConfigSpace pci{ports};
  RegisterBlock host;
  board::ChipsetHostLayout layout;
  std::unique_ptr<board::GatedHostFunction> function;
};

}  // namespace omzi2c::testing
