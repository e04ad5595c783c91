// PCI configuration access, the bus scan and the per-Chipset discovery steps,
// checked access by access against a scripted port space.
#include <gtest/gtest.h>

#include <vector>

#include "controller_state.h"
#include "discovery/discovery.h"
#include "discovery/pci_config.h"
#include "ntemu/port_space.h"

namespace {

using ntemu::In32;
using ntemu::In8;
using ntemu::Out32;
using ntemu::Out8;
using ntemu::PortAccess;
using Accesses = std::vector<PortAccess>;

constexpr uint32_t kAddressPort = 0xCF8;
constexpr uint32_t kDataPort = 0xCFC;
constexpr uint16_t kVendor = 0x8086;
constexpr uint16_t kDevice = 0x7113;
constexpr uint32_t kKey = static_cast<uint32_t>(kDevice) << 16 | kVendor;

// Expected accesses of one configuration read, write, and read-modify-write.
Accesses ConfigRead(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                    uint32_t value) {
  return {Out32(kAddressPort, PciConfigAddress(bus, device, function, offset / 4)),
          In32(kDataPort, value)};
}
Accesses ConfigWrite(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                     uint32_t value) {
  return {Out32(kAddressPort, PciConfigAddress(bus, device, function, offset / 4)),
          Out32(kDataPort, value)};
}
Accesses ConfigSet(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                   uint32_t before, uint32_t mask) {
  Accesses all = ConfigRead(bus, device, function, offset, before);
  const Accesses write = ConfigWrite(bus, device, function, offset, before | mask);
  all.insert(all.end(), write.begin(), write.end());
  return all;
}
Accesses Join(std::initializer_list<Accesses> parts) {
  Accesses all;
  for (const Accesses& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(PciConfigAddress, PacksFieldsAndWrapsWideArguments) {
  EXPECT_EQ(PciConfigAddress(1, 2, 3, 4), 0x80011310u);
  EXPECT_EQ(PciConfigAddress(6, 31, 7, 63), 0x8006FFFCu);
  EXPECT_EQ(PciConfigAddress(0, 0, 0, 0), 0x80000000u);
  EXPECT_EQ(PciConfigAddress(0x1FF, 0x3F, 0x0F, 0x7F), PciConfigAddress(0xFF, 0x1F, 7, 0x3F));
  EXPECT_EQ(PciConfigAddress(0, 0, 8, 0), PciConfigAddress(0, 0, 0, 0));  // Func 8 is function 0
}

TEST(PciConfigAccess, ReadAndWriteAreOneAddressWriteAndOneDataAccess) {
  ntemu::RecordingPortSpace ports;
  ntemu::ScopedPortSpace use(&ports);
  ports.Queue(kDataPort, 0x12345678);
  EXPECT_EQ(PciConfigRead(2, 3, 4, 0x24), 0x12345678u);
  PciConfigWrite(2, 3, 4, 0x34, 0xCAFEF00D);
  EXPECT_EQ(ports.Accesses(),
            Join({ConfigRead(2, 3, 4, 0x90, 0x12345678), ConfigWrite(2, 3, 4, 0xD0, 0xCAFEF00D)}));
}

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    Controller = ControllerState{};
    Controller.VID = kVendor;
    Controller.DID = kDevice;
  }
  void TearDown() override { Controller = ControllerState{}; }

  // The scan finds the device at the first place it looks: bus 0, device 0.
  void Configure(LONG chipset, USHORT func) {
    Controller.Chipset = chipset;
    Controller.Func = func;
    ports.Queue(kDataPort, kKey);
  }
  Accesses Found() const { return ConfigRead(0, 0, Controller.Func, 0x00, kKey); }

  ntemu::RecordingPortSpace ports;
  ntemu::ScopedPortSpace use{&ports};
};

TEST_F(Discovery, UnknownChipsetScansThenWritesNothing) {
  for (LONG chipset : {0, -1, -100, 11, 12}) {
    ports.ClearLog();
    Configure(chipset, 0);
    EXPECT_FALSE(DiscoverController()) << chipset;
    EXPECT_EQ(ports.Accesses(), Found()) << chipset;
    EXPECT_EQ(Controller.SmbBase, 0) << chipset;
  }
}

TEST_F(Discovery, NotFoundMakesOnlyIdentificationReads) {
  Controller.Chipset = 2;
  Controller.Func = 3;
  EXPECT_FALSE(DiscoverController());
  EXPECT_EQ(ports.Accesses().size(), 2u * 7 * 32);
  EXPECT_TRUE(ports.Writes().size() == 7 * 32);  // the address writes only
  for (const PortAccess& access : ports.Writes()) {
    EXPECT_EQ(access.port, kAddressPort);
  }
  EXPECT_EQ(Controller.SmbBase, 0);
}

TEST_F(Discovery, Chipset1EnablesIoSpaceThenHostAndTakesBaseFromUpperHalf) {
  Configure(1, 0);
  ports.Queue(kDataPort, 0x02000000);  // command
  ports.Queue(kDataPort, 0x00A00000);  // 0xF0
  ports.Queue(kDataPort, 0xE0010000);  // 0xE0: base in the upper half
  ports.Queue(0xE000, 0x1E);
  ASSERT_TRUE(DiscoverController());
  EXPECT_EQ(Controller.SmbBase, 0xE000);
  EXPECT_EQ(ports.Accesses(), Join({Found(),
                                    ConfigSet(0, 0, 0, 0x04, 0x02000000, 0x01),
                                    ConfigSet(0, 0, 0, 0xF0, 0x00A00000, 0x01),
                                    ConfigRead(0, 0, 0, 0xE0, 0xE0010000),
                                    {In8(0xE000, 0x1E), Out8(0xE000, 0x1E)}}));
}

TEST_F(Discovery, Chipsets2And3ReleaseTheInUseFlagTheirStatusReadTook) {
  for (LONG chipset : {2, 3}) {
    ports.ClearLog();
    Configure(chipset, 0);  // any function of the device locates it; the host is at 3
    ports.Queue(kDataPort, 0x02800000);
    ports.Queue(kDataPort, 0x00000100);
    ports.Queue(kDataPort, 0x0000F001);
    ports.Queue(0xF000, 0x02);
    ASSERT_TRUE(DiscoverController()) << chipset;
    EXPECT_EQ(Controller.SmbBase, 0xF000);
    EXPECT_EQ(ports.Accesses(), Join({Found(),
                                      ConfigSet(0, 0, 3, 0x04, 0x02800000, 0x01),
                                      ConfigSet(0, 0, 3, 0x40, 0x00000100, 0x01),
                                      ConfigRead(0, 0, 3, 0x20, 0xF001),
                                      {In8(0xF000, 0x02), Out8(0xF000, 0x02), Out8(0xF000, 0x40)}}))
        << chipset;
  }
}

TEST_F(Discovery, Chipset2LeavesAnInUseFlagSomeoneElseHolds) {
  Configure(2, 3);
  ports.Queue(kDataPort, 0);
  ports.Queue(kDataPort, 0);
  ports.Queue(kDataPort, 0x0000F001);
  ports.Queue(0xF000, 0x42);
  ASSERT_TRUE(DiscoverController());
  const Accesses& all = ports.Accesses();
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(Accesses(all.end() - 2, all.end()), (Accesses{In8(0xF000, 0x42), Out8(0xF000, 0x42)}));
  EXPECT_EQ(ports.CountReads(0xF000), 1u);
}

TEST_F(Discovery, Chipset4EnablesFunction3AndReadsBaseAt90) {
  Configure(4, 3);
  ports.Queue(kDataPort, 0);
  ports.Queue(kDataPort, 0x12345678);
  ports.Queue(kDataPort, 0xFFFF0C0B);  // upper half and low bits dropped
  ports.Queue(0x0C00, 0x00);
  ASSERT_TRUE(DiscoverController());
  EXPECT_EQ(Controller.SmbBase, 0x0C00);
  EXPECT_EQ(ports.Accesses(), Join({Found(),
                                    ConfigSet(0, 0, 3, 0x04, 0, 0x01),
                                    ConfigSet(0, 0, 3, 0xD0, 0x12345678, 0x00010000),
                                    ConfigRead(0, 0, 3, 0x90, 0xFFFF0C0B),
                                    {In8(0x0C00, 0), Out8(0x0C00, 0)}}));
}

TEST_F(Discovery, Chipset5SetsD2ThenBit5Of41OnFunction0) {
  Configure(5, 0);
  ports.Queue(kDataPort, 0x00000001);
  ports.Queue(kDataPort, 0x00000010);
  ports.Queue(kDataPort, 0x00000B01);
  ports.Queue(0x0B00, 0x44);
  ASSERT_TRUE(DiscoverController());
  EXPECT_EQ(Controller.SmbBase, 0x0B00);
  EXPECT_EQ(ports.Accesses(), Join({Found(),
                                    ConfigSet(0, 0, 0, 0xD0, 0x00000001, 0x00010000),
                                    ConfigSet(0, 0, 0, 0x40, 0x00000010, 0x00002000),
                                    ConfigRead(0, 0, 0, 0x90, 0x00000B01),
                                    {In8(0x0B00, 0x44), Out8(0x0B00, 0x44)}}));
  EXPECT_EQ(Controller.SavedHostConfig, 0u);  // saving is Chipset 6's alone
}

TEST_F(Discovery, Chipset6SavesBetweenTheD0AndThe40Steps) {
  // Found at bus 2, device 9: every other identification read answers all ones.
  Controller.Chipset = 6;
  Controller.Func = 0;
  ports.Queue(kDataPort, 0xFFFFFFFF, 2 * 32 + 9);
  ports.Queue(kDataPort, kKey);
  ports.Queue(kDataPort, 0x00000004);  // 0xD0 before
  ports.Queue(kDataPort, 0x00010004);  // 0xD0 as saved
  ports.Queue(kDataPort, 0x00000A01);  // 0x90 as saved
  ports.Queue(kDataPort, 0x00000020);  // 0x40 before
  ports.Queue(kDataPort, 0x00000A01);  // 0x90 for the base
  ASSERT_TRUE(DiscoverController());
  EXPECT_EQ(Controller.SavedHostBus, 2u);
  EXPECT_EQ(Controller.SavedHostDevice, 9u);
  EXPECT_EQ(Controller.SavedHostConfig, 0x00010004u);
  EXPECT_EQ(Controller.SavedBaseConfig, 0x00000A01u);
  EXPECT_EQ(Controller.SmbBase, 0x0A00);
  const Accesses all = ports.Accesses();
  const Accesses tail(all.begin() + 2 * (2 * 32 + 10), all.end());
  EXPECT_EQ(tail, Join({ConfigSet(2, 9, 0, 0xD0, 0x00000004, 0x00010000),
                        ConfigRead(2, 9, 0, 0xD0, 0x00010004),
                        ConfigRead(2, 9, 0, 0x90, 0x00000A01),
                        ConfigSet(2, 9, 0, 0x40, 0x00000020, 0x00002000),
                        ConfigRead(2, 9, 0, 0x90, 0x00000A01),
                        {In8(0x0A00, 0xFF), Out8(0x0A00, 0xFF)}}));
}

TEST_F(Discovery, Chipset7WritesNothingToConfigAndFourPortAccessesAbove80) {
  Configure(7, 0);
  ports.Queue(kDataPort, 0x0000D00F);
  ports.Queue(0xD080, 0x5A);
  ASSERT_TRUE(DiscoverController());
  EXPECT_EQ(Controller.SmbBase, 0xD000);
  EXPECT_EQ(
      ports.Accesses(),
      Join({Found(),
            ConfigRead(0, 0, 0, 0x68, 0x0000D00F),
            {Out8(0xD081, 0x00), Out8(0xD082, 0xE0), In8(0xD080, 0x5A), Out8(0xD080, 0x5A)}}));
  EXPECT_EQ(ports.CountReads(0xD000), 0u);
}

TEST_F(Discovery, Chipsets8And9DifferOnlyInTheFunction) {
  for (const auto& [chipset, function] : {std::pair<LONG, uint32_t>{8, 3}, {9, 4}}) {
    ports.ClearLog();
    Configure(chipset, 1);
    ports.Queue(kDataPort, 0x80000000);
    ports.Queue(kDataPort, 0x00004001);
    ports.Queue(0x4000, 0x01);
    ASSERT_TRUE(DiscoverController()) << chipset;
    EXPECT_EQ(Controller.SmbBase, 0x4000);
    EXPECT_EQ(ports.Accesses(), Join({Found(),
                                      ConfigSet(0, 0, function, 0xD0, 0x80000000, 0x00010000),
                                      ConfigRead(0, 0, function, 0x90, 0x00004001),
                                      {In8(0x4000, 0x01), Out8(0x4000, 0x01)}}))
        << chipset;
  }
}

TEST_F(Discovery, Chipset10SetsEmbeddedControllerPortsAndTouchesNoPort) {
  Configure(10, 2);
  ports.Queue(kDataPort, 0x00000006);
  ports.Queue(kDataPort, 0x00000000);
  ports.Queue(kDataPort, 0x0000E0A1);
  ASSERT_TRUE(DiscoverController());
  EXPECT_EQ(Controller.SmbBase, 0xE0A0);
  EXPECT_EQ(Controller.EcDataPort, 0xE0A0);
  EXPECT_EQ(Controller.EcCommandPort, 0xE0A4);
  EXPECT_EQ(ports.Accesses(),
            Join({Found(), ConfigSet(0, 0, 2, 0x04, 0x00000006, 0x01),
                  ConfigSet(0, 0, 2, 0x40, 0x00000000, 0x01), ConfigRead(0, 0, 2, 0x10, 0xE0A1)}));
}

TEST_F(Discovery, ZeroBaseIsNoControllerAndNoPortIsTouched) {
  for (LONG chipset = 1; chipset <= 10; ++chipset) {
    ports.ClearLog();
    Controller = ControllerState{};
    Controller.VID = kVendor;
    Controller.DID = kDevice;
    Configure(chipset, 0);
    // Every configuration read after the scan answers a never-programmed 0
    // (the low indicator bit aside).
    ports.SetDefault(kDataPort, 0x00000001);
    EXPECT_FALSE(DiscoverController()) << chipset;
    EXPECT_EQ(Controller.SmbBase, 0) << chipset;
    EXPECT_EQ(Controller.EcDataPort, 0) << chipset;
    EXPECT_EQ(Controller.SavedHostConfig, 0u) << chipset;
    for (const PortAccess& access : ports.Accesses()) {
      EXPECT_TRUE(access.port == kAddressPort || access.port == kDataPort)
          << chipset << ": " << access;
    }
  }
}

}  // namespace
