// On Linux with real ports the tool drives the SMBus host's registers
// itself. A kernel driver bound to the same host runs transactions of its
// own in between, and both sides then see corrupted transactions: before
// the driver starts, the kernel's device tree (sysfs) tells whether such a
// driver holds the host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace omzi2c::tool {

// The controller as the driver's parameters configure it.
struct ConfiguredHost {
  uint32_t chipset;
  uint16_t vendorId, deviceId, function;
  std::optional<unsigned> hostFunction = std::nullopt;  // the HostFunction parameter
};

// Why the configured host is not free, with how to free it; nullopt when no
// kernel driver holds it. `sysfs` is where the kernel's device tree is
// mounted ("/sys").
std::optional<std::string> KernelDriverConflict(const std::string& sysfs,
                                                const ConfiguredHost& host);

}  // namespace omzi2c::tool
