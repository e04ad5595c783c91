#include "support/simulated_board.h"

namespace omzi2c::testing {

uint8_t RegisterBlock::Get(uint32_t port) const {
  const auto found = bytes_.find(port);
  return found != bytes_.end() ? found->second : kUnwritten;
}

uint32_t RegisterBlock::Read(uint32_t port, board::Width width) {
  ++accesses_;
  uint32_t value = 0;
  for (uint32_t i = 0; i < static_cast<uint32_t>(width); ++i) {
    value |= static_cast<uint32_t>(Get(port + i)) << (8 * i);
  }
  return value;
}

void RegisterBlock::Write(uint32_t port, board::Width width, uint32_t value) {
  ++accesses_;
  for (uint32_t i = 0; i < static_cast<uint32_t>(width); ++i) {
    bytes_[port + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

SimulatedBoard::SimulatedBoard(int chipset, uint8_t bus, uint8_t device, uint16_t base,
                               uint16_t vendorId, uint16_t deviceId)
    : layout(board::LayoutForChipset(chipset)),
      function(board::MakeChipsetHost(chipset, vendorId, deviceId, base, ports, &host)) {
  pci.Place(
      {board::PciBus{bus}, board::PciDevice{device}, board::PciFunctionNumber{layout.function}},
      function.get());
}

}  // namespace omzi2c::testing
