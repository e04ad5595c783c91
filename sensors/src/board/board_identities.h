// The PCI identities the simulated board gives each controller kind: those
// of a real controller the kind serves, with its function layout (the host's
// function and class, the bridge at function 0 beside it), or, for a kind
// no real controller is known for, a made-up identity the board alone
// carries.
#pragma once

#include <cstdint>
#include <vector>

namespace board {

struct BoardConfig;

// A function placed beside the host on the same device: it answers with its
// identity and class, and takes whatever software writes to it.
struct NeighbourFunction {
  uint8_t function;
  uint16_t vendorId;
  uint16_t deviceId;
  uint32_t classCode;  // class, subclass, programming interface (24 bits)
};

constexpr uint16_t kSimulatedVendor = 0x4F4D;  // held by no real vendor

// The board of that kind as a real one lays it out; kinds outside 1..10 get
// the default configuration with that code (nothing for the driver to find).
BoardConfig ConfigForKind(int chipset);

// A board whose Chipset 2 host sits at function 4, as on Intel platforms
// from the 100 Series on, with an audio device at function 3, where the
// Chipset 2 row looks.
BoardConfig HostAtFunction4Config();

bool SimulatedOnly(const BoardConfig& config);

}  // namespace board
