// Where each controller kind's SMBus host sits: the PCI function the
// driver's discovery switches on and reads the I/O base from, on the device
// that the configured vendor ID, device ID and function number locate.
#pragma once

#include <cstdint>
#include <optional>

namespace omzi2c::tool {

constexpr uint32_t kFirstChipset = 1;
constexpr uint32_t kLastChipset = 10;
// The kind whose host is an embedded controller, reached at fixed ports.
constexpr uint32_t kEmbeddedControllerChipset = 10;

// The host's function number, nullopt for a code outside 1..10.
inline std::optional<unsigned> HostFunction(uint32_t chipset) {
  constexpr unsigned kHostFunction[] = {0, 0, 3, 3, 3, 0, 0, 0, 3, 4, 2};
  if (chipset < kFirstChipset || chipset > kLastChipset) return std::nullopt;
  return kHostFunction[chipset];
}

}  // namespace omzi2c::tool
