// PCI configuration access through configuration mechanism #1: an address
// dword written to port 0xCF8 selects bus, device, function and dword index;
// the dword itself moves through port 0xCFC. The platform's own
// configuration services are not used.
#pragma once

#include "platform/nt.h"

namespace pci {

constexpr ULONG kConfigAddressPort = 0xCF8;
constexpr ULONG kConfigDataPort = 0xCFC;
constexpr ULONG kConfigEnable = 0x80000000;

// Field widths of the address dword; wider arguments wrap.
constexpr ULONG kBusMask = 0xFF, kDeviceMask = 0x1F, kFunctionMask = 0x07, kIndexMask = 0x3F;
constexpr ULONG kBusShift = 16, kDeviceShift = 11, kFunctionShift = 8, kIndexShift = 2;

// Buses and devices the discovery scan covers.
constexpr LONG kLastScannedBus = 6;
constexpr LONG kLastDevice = 31;

// Byte offset in configuration space to the dword index the accessors take.
constexpr ULONG DwordIndex(ULONG offset) {
  return offset / 4;
}

}  // namespace pci

constexpr ULONG PciConfigAddress(ULONG bus, ULONG device, ULONG function, ULONG index) {
  return pci::kConfigEnable | (bus & pci::kBusMask) << pci::kBusShift |
         (device & pci::kDeviceMask) << pci::kDeviceShift |
         (function & pci::kFunctionMask) << pci::kFunctionShift |
         (index & pci::kIndexMask) << pci::kIndexShift;
}

// Neither accessor restores port 0xCF8 or takes a lock: callers run at
// start-up or under the bus event.
ULONG PciConfigRead(ULONG bus, ULONG device, ULONG function, ULONG index);
void PciConfigWrite(ULONG bus, ULONG device, ULONG function, ULONG index, ULONG value);

// Scans buses bus..6 (devices device..31 on the start bus, 0..31 on the
// others) for a function whose identification dword is deviceId:vendorId.
// A start outside the range begins at 0. On success bus and device hold
// the first match; otherwise they keep their values.
bool FindPciFunction(USHORT vendorId, USHORT deviceId, ULONG function, LONG& bus, LONG& device);
