// Where each controller kind's SMBus host sits: the PCI function the
// driver's discovery switches on and reads the I/O base from, on the device
// that the configured vendor ID, device ID and function number locate
// (unless the HostFunction parameter names another).
#pragma once

#include <cstdint>
#include <optional>

#include "decode/controllers.h"

namespace omzi2c::tool {

constexpr uint32_t kFirstChipset = decode::kFirstChipset;
constexpr uint32_t kLastChipset = decode::kLastChipset;
// The kind whose host is an embedded controller, reached at fixed ports.
constexpr uint32_t kEmbeddedControllerChipset = 10;

// The host's function number, nullopt for a code outside 1..10.
inline std::optional<unsigned> HostFunction(uint32_t chipset) {
  return decode::ChipsetFunction(chipset);
}

}  // namespace omzi2c::tool
