// Switching the SMBus host on, one routine per Chipset row. Every step that
// sets bits is a read-modify-write of one whole configuration dword; the
// steps run in the order given here and each touches the hardware once.
#include "discovery/discovery.h"

#include "controller_state.h"
#include "discovery/pci_config.h"
#include "platform/port_io.h"

namespace {

// Configuration registers, by byte offset, and the bits discovery sets.
namespace config {
constexpr ULONG kCommand = 0x04;  // PCI command register
constexpr ULONG kIoSpaceEnable = 0x01;
constexpr ULONG kBar0 = 0x10;  // standard base address registers
constexpr ULONG kBar4 = 0x20;
constexpr ULONG kHostConfig40 = 0x40;
constexpr ULONG kHostEnable40 = 0x01;        // host enable, byte 0x40 bit 0
constexpr ULONG kHostEnable41Bit5 = 0x2000;  // host enable, byte 0x41 bit 5
constexpr ULONG kSmbBase68 = 0x68;
constexpr ULONG kSmbBase90 = 0x90;
constexpr ULONG kHostConfigD0 = 0xD0;
constexpr ULONG kHostEnableD2 = 0x00010000;  // host enable, byte 0xD2 bit 0
constexpr ULONG kSmbBaseE0 = 0xE0;           // base in the upper half
constexpr ULONG kHostConfigF0 = 0xF0;
constexpr ULONG kHostEnableF0 = 0x01;
}  // namespace config

// I/O bases drop the low bits of their register; the embedded controller's
// window is 32-byte aligned.
constexpr ULONG kIoBaseMask = 0xFFF0;
constexpr ULONG kEcBaseMask = 0xFFE0;
constexpr ULONG kUpperHalfShift = 16;
constexpr USHORT kEcCommandOffset = 4;

// Host registers touched at discovery, relative to SmbBase.
constexpr ULONG kHostStatus = 0x00;
constexpr UCHAR kStatusInUse = 0x40;      // Chipset 2/3: the host is claimed
constexpr ULONG kChunkStatus = 0x80;      // Chipset 7: write back to clear
constexpr ULONG kChunkRegister81 = 0x81;  // Chipset 7: written once, never used again
constexpr ULONG kChunkHostState = 0x82;   // Chipset 7: busy flags, set up once
constexpr UCHAR kChunkRegister81Init = 0x00;
constexpr UCHAR kChunkHostStateInit = 0xE0;

struct PciDevice {
  ULONG Bus;
  ULONG Device;
};

ULONG ReadConfig(const PciDevice& host, ULONG function, ULONG offset) {
  return PciConfigRead(host.Bus, host.Device, function, pci::DwordIndex(offset));
}

void SetConfigBits(const PciDevice& host, ULONG function, ULONG offset, ULONG mask) {
  const ULONG value = ReadConfig(host, function, offset);
  PciConfigWrite(host.Bus, host.Device, function, pci::DwordIndex(offset), value | mask);
}

// A base register that reads 0 was never programmed: the host is not there,
// and its accesses would land on the DMA controller's ports.
bool StoreSmbBase(ULONG base) {
  if (base == 0) return false;
  Controller.SmbBase = static_cast<USHORT>(base);
  return true;
}

// The function whose configuration discovery touches: the one the Chipset
// row fixes, unless the HostFunction parameter names another.
ULONG HostFunctionOr(ULONG rowFunction) {
  return Controller.HostFunctionSet ? Controller.HostFunction : rowFunction;
}

// Status registers clear the bits written back as read.
void ClearHostStatus() {
  const ULONG port = Controller.SmbBase + kHostStatus;
  PortWriteByte(port, PortReadByte(port));
}

// Chipset 2/3: the in-use flag is a semaphore that a status read takes when
// it is free. Release it again if this read took it; if it was already
// taken, it belongs to someone else and stays as it is.
void ClaimByteDoneHost() {
  const ULONG port = Controller.SmbBase + kHostStatus;
  const UCHAR status = PortReadByte(port);
  PortWriteByte(port, status);
  if ((status & kStatusInUse) == 0) PortWriteByte(port, kStatusInUse);
}

// Chipset 7: its registers start at +0x80; the two set-up values, then a
// status clear. Nothing at +0 is touched.
void ResetChunkBufferHost() {
  const ULONG base = Controller.SmbBase;
  PortWriteByte(base + kChunkRegister81, kChunkRegister81Init);
  PortWriteByte(base + kChunkHostState, kChunkHostStateInit);
  PortWriteByte(base + kChunkStatus, PortReadByte(base + kChunkStatus));
}

// Chipset 1, function 0: I/O space and the host enable at 0xF0, both needed
// before the base in the upper half of 0xE0 answers.
bool DiscoverStartPortHost(const PciDevice& host) {
  const ULONG function = HostFunctionOr(0);
  SetConfigBits(host, function, config::kCommand, config::kIoSpaceEnable);
  SetConfigBits(host, function, config::kHostConfigF0, config::kHostEnableF0);
  const ULONG base = ReadConfig(host, function, config::kSmbBaseE0) >> kUpperHalfShift;
  if (!StoreSmbBase(base & kIoBaseMask)) return false;
  ClearHostStatus();
  return true;
}

// Chipset 2 and 3, function 3.
bool DiscoverByteDoneHost(const PciDevice& host) {
  const ULONG function = HostFunctionOr(3);
  SetConfigBits(host, function, config::kCommand, config::kIoSpaceEnable);
  SetConfigBits(host, function, config::kHostConfig40, config::kHostEnable40);
  if (!StoreSmbBase(ReadConfig(host, function, config::kBar4) & kIoBaseMask)) return false;
  ClaimByteDoneHost();
  return true;
}

// Chipset 4, function 3.
bool DiscoverPacedPollHost4(const PciDevice& host) {
  const ULONG function = HostFunctionOr(3);
  SetConfigBits(host, function, config::kCommand, config::kIoSpaceEnable);
  SetConfigBits(host, function, config::kHostConfigD0, config::kHostEnableD2);
  if (!StoreSmbBase(ReadConfig(host, function, config::kSmbBase90) & kIoBaseMask)) return false;
  ClearHostStatus();
  return true;
}

// Chipset 5, function 0.
bool DiscoverPacedPollHost5(const PciDevice& host) {
  const ULONG function = HostFunctionOr(0);
  SetConfigBits(host, function, config::kHostConfigD0, config::kHostEnableD2);
  SetConfigBits(host, function, config::kHostConfig40, config::kHostEnable41Bit5);
  if (!StoreSmbBase(ReadConfig(host, function, config::kSmbBase90) & kIoBaseMask)) return false;
  ClearHostStatus();
  return true;
}

void ForgetSavedHostConfig() {
  Controller.SavedHostBus = 0;
  Controller.SavedHostDevice = 0;
  Controller.SavedHostFunction = 0;
  Controller.SavedHostConfig = 0;
  Controller.SavedBaseConfig = 0;
}

// Chipset 6, function 0: as Chipset 5, but the two dwords the back-end's
// recovery writes back are saved between the enabling steps, before 0x40
// is touched.
bool DiscoverPacedPollHost6(const PciDevice& host) {
  const ULONG function = HostFunctionOr(0);
  SetConfigBits(host, function, config::kHostConfigD0, config::kHostEnableD2);
  Controller.SavedHostBus = host.Bus;
  Controller.SavedHostDevice = host.Device;
  Controller.SavedHostFunction = function;
  Controller.SavedHostConfig = ReadConfig(host, function, config::kHostConfigD0);
  Controller.SavedBaseConfig = ReadConfig(host, function, config::kSmbBase90);
  SetConfigBits(host, function, config::kHostConfig40, config::kHostEnable41Bit5);
  if (!StoreSmbBase(ReadConfig(host, function, config::kSmbBase90) & kIoBaseMask)) {
    ForgetSavedHostConfig();
    return false;
  }
  ClearHostStatus();
  return true;
}

// Chipset 7, function 0: nothing to enable.
bool DiscoverChunkBufferHost(const PciDevice& host) {
  const ULONG function = HostFunctionOr(0);
  if (!StoreSmbBase(ReadConfig(host, function, config::kSmbBase68) & kIoBaseMask)) return false;
  ResetChunkBufferHost();
  return true;
}

// Chipset 8 (function 3) and 9 (function 4).
bool DiscoverDualStatusHost(const PciDevice& host, ULONG rowFunction) {
  const ULONG function = HostFunctionOr(rowFunction);
  SetConfigBits(host, function, config::kHostConfigD0, config::kHostEnableD2);
  if (!StoreSmbBase(ReadConfig(host, function, config::kSmbBase90) & kIoBaseMask)) return false;
  ClearHostStatus();
  return true;
}

// Chipset 10, function 2: I/O space and the host enable at 0x40; the
// embedded controller's data and command ports sit in BAR0's window.
bool DiscoverEmbeddedControllerHost(const PciDevice& host) {
  const ULONG function = HostFunctionOr(2);
  SetConfigBits(host, function, config::kCommand, config::kIoSpaceEnable);
  SetConfigBits(host, function, config::kHostConfig40, config::kHostEnable40);
  if (!StoreSmbBase(ReadConfig(host, function, config::kBar0) & kEcBaseMask)) return false;
  Controller.EcDataPort = Controller.SmbBase;
  Controller.EcCommandPort = static_cast<USHORT>(Controller.SmbBase + kEcCommandOffset);
  return true;
}

}  // namespace

bool DiscoverController() {
  LONG bus = 0;
  LONG device = 0;
  if (!FindPciFunction(Controller.VID, Controller.DID, Controller.Func, bus, device)) {
    return false;
  }
  const PciDevice host{static_cast<ULONG>(bus), static_cast<ULONG>(device)};
  switch (Controller.Chipset) {
    case 1:
      return DiscoverStartPortHost(host);
    case 2:
    case 3:
      return DiscoverByteDoneHost(host);
    case 4:
      return DiscoverPacedPollHost4(host);
    case 5:
      return DiscoverPacedPollHost5(host);
    case 6:
      return DiscoverPacedPollHost6(host);
    case 7:
      return DiscoverChunkBufferHost(host);
    case 8:
      return DiscoverDualStatusHost(host, 3);
    case 9:
      return DiscoverDualStatusHost(host, 4);
    case 10:
      return DiscoverEmbeddedControllerHost(host);
    default:
      return false;  // no discovery steps: nothing is written
  }
}
