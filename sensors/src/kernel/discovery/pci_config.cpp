#include "discovery/pci_config.h"

#include "platform/port_io.h"

namespace {

constexpr ULONG kIdentificationIndex = 0;

LONG ScanStart(LONG value, LONG last) {
  return value < 0 || value > last ? 0 : value;
}

}  // namespace

ULONG PciConfigRead(ULONG bus, ULONG device, ULONG function, ULONG index) {
  PortWriteDword(pci::kConfigAddressPort, PciConfigAddress(bus, device, function, index));
  return PortReadDword(pci::kConfigDataPort);
}

void PciConfigWrite(ULONG bus, ULONG device, ULONG function, ULONG index, ULONG value) {
  PortWriteDword(pci::kConfigAddressPort, PciConfigAddress(bus, device, function, index));
  PortWriteDword(pci::kConfigDataPort, value);
}

bool FindPciFunction(USHORT vendorId, USHORT deviceId, ULONG function, LONG& bus, LONG& device) {
  const ULONG key = static_cast<ULONG>(deviceId) << 16 | vendorId;
  LONG firstDevice = ScanStart(device, pci::kLastDevice);
  for (LONG b = ScanStart(bus, pci::kLastScannedBus); b <= pci::kLastScannedBus; ++b) {
    for (LONG d = firstDevice; d <= pci::kLastDevice; ++d) {
      if (PciConfigRead(static_cast<ULONG>(b), static_cast<ULONG>(d), function,
                        kIdentificationIndex) != key) {
        continue;
      }
      bus = b;
      device = d;
      return true;
    }
    firstDevice = 0;  // the start device applies to the start bus only
  }
  return false;
}
