#include "board/chipset_hosts.h"

#include <stdexcept>

namespace board {

namespace {

constexpr uint32_t kNone = 0;
constexpr uint32_t kIoBaseMask = 0xFFF0;
constexpr uint32_t kEcBaseMask = 0xFFE0;
constexpr uint32_t kHostSpan = 0x20;
constexpr uint32_t kChunkHostSpan = 0x90;  // Chipset 7: registers at +0x80..+0x8F
constexpr uint32_t kBaseIndicator = 0x01;
constexpr uint32_t kCommandStatusBits = 0x02000000;  // status half: medium DEVSEL timing
// Class code dword (0x08): a function of its own is an SMBus controller; a
// host kept in function 0 lives in the bridge to the ISA bus.
constexpr uint32_t kClassOffset = 0x08;
constexpr uint32_t kSmbusClass = 0x0C050002;      // class 0x0c, subclass 0x05, revision 2
constexpr uint32_t kIsaBridgeClass = 0x06010002;  // class 0x06, subclass 0x01, revision 2

const EnableBit kNoEnable{kNone, kNone};

IoWindow LowHalf(uint32_t offset) {
  return {offset, 0, kIoBaseMask, kHostSpan};
}

}  // namespace

ChipsetHostLayout LayoutForChipset(int chipset) {
  switch (chipset) {
    case 1:
      return {0, {0xE0, 16, kIoBaseMask, kHostSpan}, {0xF0, 0x01}, kNoEnable, false};
    case 2:
    case 3:
      return {3, LowHalf(0x20), {0x40, 0x01}, kNoEnable, false};
    case 4:
      return {3, LowHalf(0x90), {0xD0, 0x00010000}, kNoEnable, false};
    case 5:
    case 6:
      return {0, LowHalf(0x90), {0xD0, 0x00010000}, {0x40, 0x00002000}, true};
    case 7:
      return {0, {0x68, 0, kIoBaseMask, kChunkHostSpan}, kNoEnable, kNoEnable, true};
    case 8:
      return {3, LowHalf(0x90), {0xD0, 0x00010000}, kNoEnable, true};
    case 9:
      return {4, LowHalf(0x90), {0xD0, 0x00010000}, kNoEnable, true};
    case 10:
      return {2, {0x10, 0, kEcBaseMask, kHostSpan}, {0x40, 0x01}, kNoEnable, false};
    default:
      throw std::invalid_argument("no SMBus host layout for Chipset " + std::to_string(chipset));
  }
}

uint32_t EncodeBase(const ChipsetHostLayout& layout, uint16_t base) {
  return (static_cast<uint32_t>(base) | kBaseIndicator) << layout.window.baseShift;
}

std::unique_ptr<GatedHostFunction> MakeChipsetHost(int chipset, uint16_t vendorId,
                                                   uint16_t deviceId, uint16_t base, PortMap& ports,
                                                   PortHandler* host) {
  const ChipsetHostLayout layout = LayoutForChipset(chipset);
  const EnableBit ioSpace{PciFunction::kCommandOffset, PciFunction::kIoSpaceEnable};
  std::unique_ptr<GatedHostFunction> function;
  if (layout.secondEnable.mask != kNone) {
    function = std::make_unique<GatedHostFunction>(
        vendorId, deviceId, ports, host, layout.window,
        std::initializer_list<EnableBit>{ioSpace, layout.hostEnable, layout.secondEnable});
  } else if (layout.hostEnable.mask != kNone) {
    function = std::make_unique<GatedHostFunction>(
        vendorId, deviceId, ports, host, layout.window,
        std::initializer_list<EnableBit>{ioSpace, layout.hostEnable});
  } else {
    function = std::make_unique<GatedHostFunction>(vendorId, deviceId, ports, host, layout.window,
                                                   std::initializer_list<EnableBit>{ioSpace});
  }
  function->Preset(kClassOffset, layout.function == 0 ? kIsaBridgeClass : kSmbusClass, 0);
  const uint32_t ioEnable = layout.ioEnabledAtReset ? PciFunction::kIoSpaceEnable : 0;
  function->Preset(PciFunction::kCommandOffset, kCommandStatusBits | ioEnable, 0x00000407);
  for (const EnableBit& bit : {layout.hostEnable, layout.secondEnable}) {
    if (bit.mask != kNone) function->Preset(bit.offset, kNeighbourBits, 0xFFFFFFFF);
  }
  // Base register: software may move the base, not the indicator bits.
  const uint32_t baseBits = layout.window.baseMask << layout.window.baseShift;
  function->Preset(layout.window.baseOffset, EncodeBase(layout, base), baseBits);
  return function;
}

}  // namespace board
