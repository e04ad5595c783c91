// Where each Chipset kind's SMBus host sits in PCI configuration space and
// what switches it on, as the board's firmware leaves it: the function
// number, the enable bits that gate the host's I/O window, the base register
// and the command register's state at power-on.
#pragma once

#include <cstdint>
#include <memory>

#include "board/pci_config_space.h"

namespace board {

struct ChipsetHostLayout {
  uint8_t function;
  IoWindow window;
  EnableBit hostEnable;    // the controller-specific enable ({0, 0}: none)
  EnableBit secondEnable;  // a second controller-specific enable ({0, 0}: none)
  bool ioEnabledAtReset;   // firmware already set the command register's I/O enable
};

// Throws std::invalid_argument for codes outside 1..10.
ChipsetHostLayout LayoutForChipset(int chipset);

// The base register's value for a base: the base where the layout keeps it,
// with bit 0 set (the I/O indicator of a BAR, or the low bit firmware sets).
uint32_t EncodeBase(const ChipsetHostLayout& layout, uint16_t base);

// A host function of that kind, switched off, with its base programmed and
// unrelated bits set around the enable bits (so that a write that does not
// read first would show). `host` is mapped at the base once enabled.
std::unique_ptr<GatedHostFunction> MakeChipsetHost(int chipset, uint16_t vendorId,
                                                   uint16_t deviceId, uint16_t base, PortMap& ports,
                                                   PortHandler* host);

// Bits firmware leaves set next to the enable bits.
constexpr uint32_t kNeighbourBits = 0x00A00000;

}  // namespace board
