// The simulated PCI configuration space, the bus scan against it, and the
// host functions whose enable bits gate their I/O windows: discovery's
// writes switch each Chipset kind's host on.
#include <gtest/gtest.h>

#include <set>

#include "board/chipset_hosts.h"
#include "board/pci_config_space.h"
#include "controller_state.h"
#include "discovery/discovery.h"
#include "discovery/pci_config.h"
#include "ntemu/port_space.h"
#include "platform/port_io.h"
#include "support/simulated_board.h"

namespace {

using board::PciBus;
using board::PciDevice;
using board::PciFunction;
using board::PciFunctionNumber;
using board::PciLocation;
using ntemu::Width;
using omzi2c::testing::SimulatedBoard;

constexpr uint16_t kVendor = 0x10DE;
constexpr uint16_t kDevice = 0x0052;

PciLocation At(uint8_t bus, uint8_t device, uint8_t function = 0) {
  return {PciBus{bus}, PciDevice{device}, PciFunctionNumber{function}};
}

struct Bus {
  board::PortMap ports;
  board::PciConfigSpace pci{ports};
  ntemu::RecordingPortSpace recorder{&ports};
  ntemu::ScopedPortSpace use{&recorder};

  // Identification reads seen, as (bus, device, function).
  std::set<uint32_t> AddressesWritten() const {
    std::set<uint32_t> addresses;
    for (const auto& access : recorder.Writes()) {
      if (access.port == board::PciConfigSpace::kAddressPort) addresses.insert(access.value);
    }
    return addresses;
  }
};

TEST(PciConfigSpace, AbsentFunctionsReadAllOnesAndIdentificationIsReadOnly) {
  Bus bus;
  PciFunction function(kVendor, kDevice);
  function.Preset(0x40, 0x11223344, 0x0000FFFF);
  bus.pci.Place(At(1, 4, 2), &function);

  EXPECT_EQ(PciConfigRead(1, 4, 2, 0), static_cast<ULONG>(kDevice) << 16 | kVendor);
  EXPECT_EQ(PciConfigRead(1, 4, 1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(PciConfigRead(0, 4, 2, 0), 0xFFFFFFFFu);

  PciConfigWrite(1, 4, 2, 0, 0);  // identification ignores writes
  EXPECT_EQ(PciConfigRead(1, 4, 2, 0), static_cast<ULONG>(kDevice) << 16 | kVendor);
  PciConfigWrite(1, 4, 2, 0x10, 0xAAAAAAAA);  // only the writable half changes
  EXPECT_EQ(function.Config(0x40), 0x1122AAAAu);
  EXPECT_EQ(function.SoftwareWrites(), 2u);
}

TEST(PciConfigSpace, OnlyEnabledDwordAccessesAreDecoded) {
  Bus bus;
  PciFunction function(kVendor, kDevice);
  bus.pci.Place(At(0, 0), &function);
  PortWriteDword(0xCF8, 0x00000000);  // enable bit clear
  EXPECT_EQ(PortReadDword(0xCFC), 0xFFFFFFFFu);
  PortWriteDword(0xCF8, PciConfigAddress(0, 0, 0, 0));
  EXPECT_EQ(PortReadDword(0xCF8), PciConfigAddress(0, 0, 0, 0));  // the latch reads back
  EXPECT_EQ(PortReadByte(0xCFC), 0xFF);                           // not a dword access
  EXPECT_EQ(PortReadDword(0xCFC), static_cast<ULONG>(kDevice) << 16 | kVendor);
}

TEST(PciScan, FirstMatchByBusThenDeviceWins) {
  Bus bus;
  PciFunction first(kVendor, kDevice), later(kVendor, kDevice), other(kVendor, kDevice + 1);
  bus.pci.Place(At(0, 31), &first);
  bus.pci.Place(At(1, 0), &later);
  bus.pci.Place(At(0, 3), &other);
  LONG b = 0, d = 0;
  ASSERT_TRUE(FindPciFunction(kVendor, kDevice, 0, b, d));
  EXPECT_EQ(b, 0);
  EXPECT_EQ(d, 31);
  EXPECT_EQ(bus.recorder.CountReads(0xCFC), 32u);  // nothing read after the match
}

TEST(PciScan, Bus7IsNeverScannedAndAFailedScanKeepsThePosition) {
  Bus bus;
  PciFunction beyond(kVendor, kDevice);
  bus.pci.Place(At(7, 0), &beyond);
  LONG b = 0, d = 0;
  EXPECT_FALSE(FindPciFunction(kVendor, kDevice, 0, b, d));
  EXPECT_EQ(b, 0);
  EXPECT_EQ(d, 0);
  EXPECT_EQ(bus.recorder.CountReads(0xCFC), 7u * 32);
  for (uint32_t address : bus.AddressesWritten()) {
    EXPECT_LE((address >> 16) & 0xFF, 6u);
  }

  b = 3;
  d = 17;
  EXPECT_FALSE(FindPciFunction(kVendor, kDevice, 0, b, d));
  EXPECT_EQ(b, 3);
  EXPECT_EQ(d, 17);
}

TEST(PciScan, StartDeviceAppliesToTheStartBusOnly) {
  Bus bus;
  PciFunction skipped(kVendor, kDevice), next(kVendor, kDevice);
  bus.pci.Place(At(1, 3), &skipped);  // before the start position
  bus.pci.Place(At(2, 1), &next);
  LONG b = 1, d = 5;
  ASSERT_TRUE(FindPciFunction(kVendor, kDevice, 0, b, d));
  EXPECT_EQ(b, 2);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(bus.recorder.CountReads(0xCFC), (32u - 5) + 2);
}

TEST(PciScan, StartOutsideTheRangeBeginsAtZero) {
  Bus bus;
  PciFunction function(kVendor, kDevice);
  bus.pci.Place(At(0, 2), &function);
  for (const auto& [startBus, startDevice] :
       {std::pair<LONG, LONG>{-1, 0}, {7, 0}, {0, 32}, {0, -5}, {100, 100}}) {
    LONG b = startBus, d = startDevice;
    EXPECT_TRUE(FindPciFunction(kVendor, kDevice, 0, b, d)) << startBus << "," << startDevice;
    EXPECT_EQ(b, 0);
    EXPECT_EQ(d, 2);
  }
}

TEST(PciScan, Func8ScansFunction0) {
  Bus bus;
  PciFunction function(kVendor, kDevice);
  bus.pci.Place(At(0, 6, 0), &function);
  LONG b = 0, d = 0;
  ASSERT_TRUE(FindPciFunction(kVendor, kDevice, 8, b, d));
  EXPECT_EQ(d, 6);
  for (uint32_t address : bus.AddressesWritten()) {
    EXPECT_EQ((address >> 8) & 0x07, 0u);
  }
}

class ChipsetHost : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { Controller = ControllerState{}; }
  void TearDown() override { Controller = ControllerState{}; }

  void Configure(const SimulatedBoard& board) {
    Controller.Chipset = GetParam();
    Controller.VID = SimulatedBoard::kVendor;
    Controller.DID = SimulatedBoard::kDevice;
    Controller.Func = board.layout.function;
  }
};

constexpr uint16_t kBase = 0x0E00;
constexpr uint8_t kStatus = 0x5A;  // what the host's first register holds

// Chipset 7's host needs no enabling: it answers from reset.
TEST_P(ChipsetHost, SilentUntilDiscoverySwitchesItOn) {
  SimulatedBoard board(GetParam(), 1, 12, kBase);
  board.host.Set(kBase, kStatus);
  ntemu::ScopedPortSpace use(&board.ports);
  const bool needsEnabling = GetParam() != 7;
  EXPECT_EQ(board.function->Decoding(), !needsEnabling);
  if (needsEnabling) {
    EXPECT_EQ(PortReadByte(kBase), 0xFF);
  }

  Configure(board);
  ASSERT_TRUE(DiscoverController());
  EXPECT_TRUE(board.function->Decoding());
  EXPECT_EQ(Controller.SmbBase, kBase);
  EXPECT_EQ(PortReadByte(kBase), kStatus);
}

TEST_P(ChipsetHost, EnablingKeepsTheOtherBitsOfEachDword) {
  SimulatedBoard board(GetParam(), 0, 0, kBase);
  ntemu::ScopedPortSpace use(&board.ports);
  Configure(board);
  ASSERT_TRUE(DiscoverController());
  for (const board::EnableBit& bit : {board.layout.hostEnable, board.layout.secondEnable}) {
    if (bit.mask == 0) continue;
    EXPECT_EQ(board.function->Config(bit.offset), board::kNeighbourBits | bit.mask);
  }
}

TEST_P(ChipsetHost, ZeroBaseFailsAfterEnablingWithoutTouchingLowPorts) {
  SimulatedBoard board(GetParam(), 0, 0, 0);
  ntemu::RecordingPortSpace recorder(&board.ports);
  ntemu::ScopedPortSpace use(&recorder);
  Configure(board);
  EXPECT_FALSE(DiscoverController());
  EXPECT_EQ(Controller.SmbBase, 0);
  EXPECT_FALSE(board.function->Decoding());
  for (const auto& access : recorder.Accesses()) {
    EXPECT_EQ(access.width, Width::Dword) << access;
  }
  EXPECT_EQ(board.host.Accesses(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryChipset, ChipsetHost, ::testing::Range(1, 11));

TEST(ChipsetHostGate, OneEnableBitAloneIsNotEnough) {
  for (int chipset : {1, 2, 4, 5, 10}) {
    SimulatedBoard board(chipset, 0, 0, kBase);
    board.host.Set(kBase, kStatus);
    ntemu::ScopedPortSpace use(&board.ports);
    const ULONG function = board.layout.function;
    const ULONG command = PciConfigRead(0, 0, function, 1);
    PciConfigWrite(0, 0, function, 1, command | PciFunction::kIoSpaceEnable);
    EXPECT_EQ(PortReadByte(kBase), 0xFF) << chipset;  // host enable still clear
    const ULONG index = board.layout.hostEnable.offset / 4;
    PciConfigWrite(0, 0, function, index,
                   PciConfigRead(0, 0, function, index) | board.layout.hostEnable.mask);
    EXPECT_EQ(PortReadByte(kBase), board.layout.secondEnable.mask == 0 ? kStatus : 0xFF) << chipset;
  }
}

TEST(ChipsetHostGate, MovingTheBaseMovesTheWindow) {
  SimulatedBoard board(8, 0, 0, kBase);
  board.host.Set(0x2000, kStatus);
  ntemu::ScopedPortSpace use(&board.ports);
  PciConfigWrite(0, 0, 3, 0xD0 / 4, 0x00010000);
  EXPECT_EQ(board.function->DecodedBase(), kBase);
  PciConfigWrite(0, 0, 3, 0x90 / 4, 0x2000);
  EXPECT_EQ(board.function->DecodedBase(), 0x2000u);
  EXPECT_EQ(PortReadByte(0x2000), kStatus);
  EXPECT_EQ(PortReadByte(kBase), 0xFF);
}

TEST(ChipsetHostGate, NoLayoutOutsideOneToTen) {
  EXPECT_THROW(board::LayoutForChipset(0), std::invalid_argument);
  EXPECT_THROW(board::LayoutForChipset(11), std::invalid_argument);
}

}  // namespace
