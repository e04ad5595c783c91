// Start-up and unload through the user-space loader: parameters from .reg
// text, every failure status and what is left behind on each path, the
// shared bus event, and a start on the simulated board for every Chipset.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "controller_state.h"
#include "device_extension.h"
#include "driver_entry.h"
#include "ntemu/clock.h"
#include "ntemu/driver_loader.h"
#include "ntemu/event.h"
#include "ntemu/io_manager.h"
#include "ntemu/objects.h"
#include "ntemu/pool.h"
#include "ntemu/port_space.h"
#include "ntemu/registry.h"
#include "platform/port_io.h"
#include "requests.h"
#include "support/driver_harness.h"
#include "support/simulated_board.h"

namespace {

using omzi2c::testing::SimulatedBoard;
using Values = std::vector<std::pair<std::string, uint32_t>>;

const char kServiceKey[] = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\omzi2c";
const char kDeviceName[] = "\\Device\\OMZI2C";
const char kLinkName[] = "\\DosDevices\\OMZI2C";
const char kEventName[] = "\\QRAI2CDriverEvent";

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

std::string RegText(const Values& values) {
  std::string text =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\"
      "Parameters]\n";
  char line[96];
  for (const auto& [name, value] : values) {
    std::snprintf(line, sizeof(line), "\"%s\"=dword:%08x\n", name.c_str(), value);
    text += line;
  }
  return text;
}

Values SmbValues(int chipset, const SimulatedBoard& board) {
  return {{"I2CDriverEnable", 1},
          {"Chipset", static_cast<uint32_t>(chipset)},
          {"VID", SimulatedBoard::kVendor},
          {"DID", SimulatedBoard::kDevice},
          {"Func", board.layout.function}};
}

class StartUp : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override {
    driver.reset();
    EXPECT_EQ(ntemu::PoolOutstanding(), 0u) << "path buffer leaked";
    Reset();
  }
  static void Reset() {
    ntemu::ResetObjects();
    ntemu::RegistryClear();
    ntemu::PoolReset();
    Controller = ControllerState{};
  }

  NTSTATUS Load(const Values& values) {
    driver =
        std::make_unique<ntemu::LoadedDriver>(DriverEntry, ntemu::ParseRegFile(RegText(values)));
    return driver->Status();
  }
  DeviceExtension* Extension() {
    return static_cast<DeviceExtension*>(driver->Device()->DeviceExtension);
  }
  static bool NothingCreated() {
    return ntemu::DeviceCount() == 0 && ntemu::LinkCount() == 0 && ntemu::OpenHandleCount() == 0;
  }

  std::unique_ptr<ntemu::LoadedDriver> driver;
};

TEST_F(StartUp, BothServicesDisabledCreatesNothing) {
  ntemu::RecordingPortSpace ports;
  ntemu::ScopedPortSpace use(&ports);
  for (const Values& values :
       {Values{}, Values{{"ISAPortDriverEnable", 0}, {"I2CDriverEnable", 0}},
        Values{{"ISAPortDriverEnable", 0x100}, {"I2CDriverEnable", 0x200}}}) {
    EXPECT_EQ(Load(values), STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(NothingCreated());
  }
  EXPECT_TRUE(ports.Accesses().empty());
}

TEST_F(StartUp, PortServiceOnlyTouchesNoHardwareAndOpensNoEvent) {
  ntemu::RecordingPortSpace ports;
  ntemu::ScopedPortSpace use(&ports);
  ASSERT_EQ(Load({{"ISAPortDriverEnable", 0x101}, {"Chipset", 5}, {"VID", 1}, {"DID", 2}}),
            STATUS_SUCCESS);
  EXPECT_TRUE(ports.Accesses().empty());
  EXPECT_EQ(Controller.ISAPortDriverEnable, 1);
  EXPECT_EQ(Controller.I2CDriverEnable, 0);
  EXPECT_EQ(Controller.Chipset, 0);  // not read without SMBus service
  EXPECT_EQ(Controller.VID, 0);
  EXPECT_EQ(ntemu::FindEvent(kEventName), nullptr);
  EXPECT_EQ(ntemu::OpenHandleCount(), 0u);

  PDEVICE_OBJECT device = ntemu::FindDevice(kDeviceName);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device, driver->Device());
  EXPECT_EQ(device->DeviceType, omzi2c::kDeviceType);
  EXPECT_EQ(ntemu::LinkTarget(kLinkName), "\\device\\omzi2c");
  EXPECT_EQ(Extension()->DeviceType, omzi2c::kDeviceType);
  EXPECT_EQ(Extension()->Device, device);
  EXPECT_EQ(Extension()->BusEvent, nullptr);
  EXPECT_EQ(Extension()->BusEventHandle, nullptr);
  EXPECT_EQ(driver->Driver()->DriverUnload, DriverUnload);

  driver->Unload();
  EXPECT_EQ(ntemu::InvalidCloseCount(), 0u);  // no event was opened: nothing is closed
  EXPECT_TRUE(NothingCreated());
}

TEST_F(StartUp, ServesPortRequestsOnceLoaded) {
  omzi2c::testing::RegisterBlock block;
  board::PortMap ports;
  ports.Map(0x300, 4, &block);
  block.Set(0x301, 0x3C);
  ntemu::ScopedPortSpace use(&ports);
  ASSERT_EQ(Load({{"ISAPortDriverEnable", 1}}), STATUS_SUCCESS);
  std::vector<uint8_t> reply(omzi2c::kPortRequestLength);
  const auto request = omzi2c::testing::PortRecord(omzi2c::kPortWidthByte, 0x301, 0);
  const ntemu::IoResult result = ntemu::DeviceIoControl(
      driver->Device(), omzi2c::kIoctlPortRead, request.data(), static_cast<ULONG>(request.size()),
      reply.data(), static_cast<ULONG>(reply.size()));
  EXPECT_EQ(result.status, STATUS_SUCCESS);
  EXPECT_EQ(reply[omzi2c::kPortValueOffset], 0x3C);
}

TEST_F(StartUp, UnusableConfigurationIsRegistryCorrupt) {
  ntemu::RecordingPortSpace ports;
  ntemu::ScopedPortSpace use(&ports);
  const Values valid = {
      {"I2CDriverEnable", 1}, {"Chipset", 2}, {"VID", 0x8086}, {"DID", 0x7113}, {"Func", 3}};
  auto with = [&valid](const std::string& name, const uint32_t* value) {
    Values changed;
    for (const auto& entry : valid) {
      if (entry.first != name)
        changed.push_back(entry);
      else if (value != nullptr)
        changed.push_back({name, *value});
    }
    return changed;
  };
  const uint32_t eleven = 11, huge = 0x7FFFFFFF, zero = 0, noFunc = 0xFFFF, wideFunc = 0x1FFFF;
  for (const Values& values :
       {with("Chipset", &eleven), with("Chipset", &huge), with("Chipset", nullptr),
        with("VID", &zero), with("VID", nullptr), with("DID", &zero), with("Func", nullptr),
        with("Func", &noFunc), with("Func", &wideFunc)}) {
    EXPECT_EQ(Load(values), STATUS_REGISTRY_CORRUPT);
    EXPECT_TRUE(NothingCreated());
  }
  EXPECT_TRUE(ports.Accesses().empty());  // rejected before any PCI access
}

TEST_F(StartUp, ChipsetZeroOrNegativeScansThenFailsAsNoSuchDevice) {
  SimulatedBoard board(2, 0, 4, 0x0E00);
  ntemu::RecordingPortSpace ports(&board.ports);
  ntemu::ScopedPortSpace use(&ports);
  for (uint32_t chipset : {0u, 0xFFFFFFFFu, 0x80000000u}) {
    ports.ClearLog();
    Values values = SmbValues(2, board);
    values[1].second = chipset;
    EXPECT_EQ(Load(values), STATUS_NO_SUCH_DEVICE) << chipset;
    EXPECT_TRUE(NothingCreated());
    EXPECT_EQ(ports.CountReads(0xCFC), 5u) << chipset;  // the scan up to device 4
    EXPECT_EQ(board.function->SoftwareWrites(), 0u);
  }
}

TEST_F(StartUp, ControllerNotFoundOrUnprogrammedIsNoSuchDevice) {
  {
    SimulatedBoard board(2, 0, 4, 0x0E00, SimulatedBoard::kVendor, 0x9999);
    ntemu::ScopedPortSpace use(&board.ports);
    EXPECT_EQ(Load(SmbValues(2, board)), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(NothingCreated());
  }
  SimulatedBoard board(2, 0, 4, 0);
  ntemu::ScopedPortSpace use(&board.ports);
  EXPECT_EQ(Load(SmbValues(2, board)), STATUS_NO_SUCH_DEVICE);
  EXPECT_TRUE(NothingCreated());
  EXPECT_EQ(Controller.SmbBase, 0);
}

class StartUpFailure : public StartUp {
 protected:
  NTSTATUS LoadOnBoard() { return Load(SmbValues(4, board)); }
  // Another component's free event of the bus event's name, with no list.
  static HANDLE OtherComponentsEvent(EVENT_TYPE type) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, OMZI2C_BUS_EVENT_NAME);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE handle = nullptr;
    EXPECT_EQ(ZwCreateEvent(&handle, EVENT_ALL_ACCESS, &attributes, type, TRUE), STATUS_SUCCESS);
    return handle;
  }
  SimulatedBoard board{4, 0, 1, 0x0E00};
  ntemu::ScopedPortSpace use{&board.ports};
};

TEST_F(StartUpFailure, DeviceCreationFailureReturnsItsStatus) {
  ntemu::FailNextDeviceCreation(STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(LoadOnBoard(), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_TRUE(NothingCreated());
}

TEST_F(StartUpFailure, LinkCreationFailureDeletesTheDevice) {
  ntemu::FailNextLinkCreation(STATUS_OBJECT_NAME_COLLISION);
  EXPECT_EQ(LoadOnBoard(), STATUS_OBJECT_NAME_COLLISION);
  EXPECT_TRUE(NothingCreated());
  EXPECT_EQ(driver->Driver()->DeviceObject, nullptr);
}

TEST_F(StartUpFailure, EventCreationFailureCreatesNothingAndTouchesNoHardware) {
  ntemu::RecordingPortSpace ports(&board.ports);
  ntemu::ScopedPortSpace recording(&ports);
  ntemu::FailNextEventCreation();
  EXPECT_EQ(LoadOnBoard(), STATUS_MUTANT_NOT_OWNED);
  EXPECT_TRUE(NothingCreated());
  EXPECT_TRUE(ports.Accesses().empty());
}

// Each step that protects the device or the bus event the driver made fails
// start-up with its status and leaves nothing behind: no device, no link, no
// event, no handle to any of them.
TEST_F(StartUpFailure, ProtectingTheDeviceOrTheBusEventFailsCleanly) {
  const struct {
    void (*inject)(NTSTATUS);
    NTSTATUS status;
  } cases[] = {
      {ntemu::FailNextObjectOpen, STATUS_INSUFFICIENT_RESOURCES},
      {ntemu::FailNextSecuritySetting, STATUS_ACCESS_DENIED},
      {ntemu::FailNextSecuritySetting, STATUS_INVALID_ACL},
  };
  for (const auto& c : cases) {
    c.inject(c.status);
    EXPECT_EQ(LoadOnBoard(), c.status);
    EXPECT_TRUE(NothingCreated());
    EXPECT_EQ(ntemu::FindEvent(kEventName), nullptr);
    EXPECT_EQ(driver->Driver()->DeviceObject, nullptr);
    EXPECT_EQ(ntemu::InvalidCloseCount(), 0u);
    EXPECT_EQ(ntemu::ReferenceCount(), 0u);
    driver.reset();
  }
}

// SYSTEM and Administrators may open the device and the bus event the driver
// made, nobody else: any request, reads included, needs an administrator, and
// no ordinary process can wait on the event and keep the bus.
TEST_F(StartUpFailure, OnlySystemAndAdministratorsMayOpenTheDeviceOrTheBusEvent) {
  ASSERT_EQ(LoadOnBoard(), STATUS_SUCCESS);
  EXPECT_EQ(ntemu::DeviceCharacteristics(kDeviceName), 0x100u);  // FILE_DEVICE_SECURE_OPEN
  const ntemu::ObjectSecurity device = ntemu::SecurityOf(kDeviceName);
  const ntemu::ObjectSecurity event = ntemu::EventSecurityOf(kEventName);
  ASSERT_TRUE(device.set && event.set);
  const std::vector<ntemu::AllowedAce> deviceList = {
      {"S-1-5-18", 0x001F01FF},      // SYSTEM: all file access
      {"S-1-5-32-544", 0x001F01FF},  // Administrators: all file access
  };
  const std::vector<ntemu::AllowedAce> eventList = {{"S-1-5-18", 0x001F0003},
                                                    {"S-1-5-32-544", 0x001F0003}};
  EXPECT_EQ(device.dacl, deviceList);
  EXPECT_EQ(event.dacl, eventList);         // all event access
  EXPECT_EQ(ntemu::OpenHandleCount(), 1u);  // the event's own; the device's is closed

  const struct {
    const ntemu::ObjectSecurity& object;
    bool administrator;
    ACCESS_MASK desired;  // what an open asks for
    bool allowed;
  } opens[] = {
      {device, false, FILE_READ_DATA, false},
      {device, false, FILE_GENERIC_READ, false},
      {device, true, FILE_READ_DATA | FILE_WRITE_DATA, true},
      {device, true, FILE_ALL_ACCESS, true},
      {event, false, SYNCHRONIZE, false},
      {event, false, READ_CONTROL, false},
      {event, true, SYNCHRONIZE | EVENT_MODIFY_STATE, true},  // wait and set
  };
  for (const auto& o : opens) {
    EXPECT_EQ(ntemu::AccessAllowed(o.object, o.administrator, o.desired), o.allowed)
        << o.administrator << " " << std::hex << o.desired;
  }
  EXPECT_FALSE(ntemu::OpenAllowed(kDeviceName, false, FILE_READ_DATA));
  // The access bits of the codes: reads ask for read, writes for write.
  EXPECT_EQ((omzi2c::kIoctlPortRead >> 14) & 3, 1u);
  EXPECT_EQ((omzi2c::kIoctlPortWrite >> 14) & 3, 2u);
}

TEST_F(StartUpFailure, ANameAlreadyTakenIsReported) {
  DRIVER_OBJECT other{};
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, OMZI2C_DEVICE_NAME);
  PDEVICE_OBJECT squatter = nullptr;
  ASSERT_EQ(IoCreateDevice(&other, 0, &name, 0x22, 0, FALSE, &squatter), STATUS_SUCCESS);
  EXPECT_EQ(LoadOnBoard(), STATUS_OBJECT_NAME_COLLISION);
  EXPECT_EQ(ntemu::DeviceCount(), 1u);  // only the other driver's
  IoDeleteDevice(squatter);
}

TEST_F(StartUpFailure, NewBusEventStartsFreeAndUnloadClosesIt) {
  ASSERT_EQ(LoadOnBoard(), STATUS_SUCCESS);
  PKEVENT event = ntemu::FindEvent(kEventName);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(Extension()->BusEvent, event);
  EXPECT_NE(Extension()->BusEventHandle, nullptr);
  EXPECT_TRUE(ntemu::IsSignalled(*event));
  driver->Unload();
  EXPECT_EQ(ntemu::FindEvent(kEventName), nullptr);
  EXPECT_EQ(ntemu::InvalidCloseCount(), 0u);
  EXPECT_TRUE(NothingCreated());
}

// Another component's event of the bus event's name. A synchronization
// event is shared and keeps its own list; a start waits while the other
// holds it, making no port access: it goes on once the bus is set free, and
// fails with STATUS_IO_TIMEOUT, leaving nothing behind, once the requests'
// bound of 30 s has passed. A notification event, which would let every
// waiter through, fails the start before any port access.
TEST_F(StartUpFailure, SharesAnotherComponentsEventAndWaitsWhileItHoldsTheBus) {
  ntemu::VirtualClock clock;
  ntemu::ScopedClock useClock(&clock);
  const struct {
    EVENT_TYPE type;
    bool held, released;
    NTSTATUS status;
  } cases[] = {
      {SynchronizationEvent, false, false, STATUS_SUCCESS},
      {SynchronizationEvent, true, true, STATUS_SUCCESS},
      {SynchronizationEvent, true, false, STATUS_IO_TIMEOUT},
      {NotificationEvent, false, false, STATUS_MUTANT_NOT_OWNED},
  };
  for (const auto& c : cases) {
    HANDLE otherHandle = OtherComponentsEvent(c.type);
    PKEVENT other = ntemu::FindEvent(kEventName);
    if (c.held) KeWaitForSingleObject(other, Executive, KernelMode, FALSE, nullptr);
    ntemu::RecordingPortSpace ports(&board.ports);
    ntemu::ScopedPortSpace recording(&ports);
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    std::thread start([&] { status = LoadOnBoard(); });
    while (c.held && other->state.load() != ntemu::kEventHeldWithSleepers)
      std::this_thread::yield();  // the start sleeps on the bus event
    EXPECT_TRUE(!c.held || ports.Accesses().empty());
    clock.Advance(kBusWaitLimit - 1);
    if (c.released) KeSetEvent(other, IO_NO_INCREMENT, FALSE);
    clock.Advance(c.released ? 0 : 1);
    start.join();
    EXPECT_EQ(status, c.status) << c.type << c.held << c.released;
    EXPECT_EQ(ports.Accesses().empty(), status != STATUS_SUCCESS);
    EXPECT_EQ(ntemu::IsSignalled(*other), !c.held || c.released);  // free after discovery
    EXPECT_EQ(ntemu::EventHandleCount(kEventName), status == STATUS_SUCCESS ? 2u : 1u);
    if (status == STATUS_SUCCESS) {
      EXPECT_EQ(Extension()->BusEvent, other);
      driver->Unload();
    }
    EXPECT_FALSE(ntemu::EventSecurityOf(kEventName).set);  // the other's list stays
    EXPECT_EQ(ntemu::DeviceCount() + ntemu::LinkCount() + ntemu::ReferenceCount(), 0u);
    EXPECT_EQ(ZwClose(otherHandle), STATUS_SUCCESS);
    driver.reset();
  }
}

// Holding the bus adds no port access to a start: on a Chipset 4 board with
// the host at bus 0, device 1, function 3, a start makes the identification
// reads of devices 0 and 1, the two read-modify-writes at 0x04 and 0xD0, the
// base read at 0x90 and the status clear, and nothing else.
TEST_F(StartUpFailure, AStartMakesExactlyTheAccessesOfDiscovery) {
  ntemu::RecordingPortSpace ports(&board.ports);
  ntemu::ScopedPortSpace recording(&ports);
  ASSERT_EQ(LoadOnBoard(), STATUS_SUCCESS);
  const std::vector<std::string> expected = {
      "w32 cf8 80000300", "r32 cfc", "w32 cf8 80000b00", "r32 cfc",  // devices 0 and 1
      "w32 cf8 80000b04", "r32 cfc", "w32 cf8 80000b04", "w32 cfc",  // 0x04 OR 0x01
      "w32 cf8 80000bd0", "r32 cfc", "w32 cf8 80000bd0", "w32 cfc",  // 0xD0 OR 0x00010000
      "w32 cf8 80000b90", "r32 cfc", "r8 e00",           "w8 e00"};  // base; status clear
  std::vector<std::string> seen;
  for (const ntemu::PortAccess& a : ports.Accesses()) {
    char text[32];
    std::snprintf(text, sizeof text, "%c%d %x", a.direction == ntemu::Direction::Read ? 'r' : 'w',
                  8 * static_cast<int>(a.width), a.port);
    seen.push_back(text + (a.port == 0xCF8 ? " " + Hex(a.value) : std::string()));
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(ports.Accesses()[15].value, ports.Accesses()[14].value);  // status written back
  EXPECT_TRUE(ntemu::IsSignalled(*Extension()->BusEvent));
}

class StartOnBoard : public StartUp, public ::testing::WithParamInterface<int> {};

TEST_P(StartOnBoard, FindsAndSwitchesOnItsController) {
  const uint16_t base = 0x0C40;
  SimulatedBoard board(GetParam(), 3, 17, base);
  board.host.Set(base + 3, 0x11);  // a register discovery leaves alone
  ntemu::ScopedPortSpace use(&board.ports);
  ASSERT_EQ(Load(SmbValues(GetParam(), board)), STATUS_SUCCESS);
  EXPECT_EQ(Controller.Chipset, GetParam());
  EXPECT_EQ(Controller.SmbBase, base);
  EXPECT_TRUE(board.function->Decoding());
  EXPECT_EQ(PortReadByte(base + 3), 0x11);
  EXPECT_NE(Extension()->BusEvent, nullptr);
  if (GetParam() == 10) {
    EXPECT_EQ(Controller.EcDataPort, base);
    EXPECT_EQ(Controller.EcCommandPort, base + 4);
  }
  if (GetParam() == 6) {
    EXPECT_EQ(Controller.SavedHostBus, 3u);
    EXPECT_EQ(Controller.SavedHostDevice, 17u);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryChipset, StartOnBoard, ::testing::Range(1, 11));

TEST_F(StartUp, FuncMayNameAnotherFunctionOfTheDevice) {
  // The configured triple names the device's bridge at function 0; the
  // Chipset 2 host sits at function 3 of the same device.
  SimulatedBoard board(2, 0, 7, 0x0E00);
  board::PciFunction bridge(SimulatedBoard::kVendor, 0x7110);
  board.pci.Place({board::PciBus{0}, board::PciDevice{7}, board::PciFunctionNumber{0}}, &bridge);
  ntemu::ScopedPortSpace use(&board.ports);
  ASSERT_EQ(Load({{"I2CDriverEnable", 1},
                  {"Chipset", 2},
                  {"VID", SimulatedBoard::kVendor},
                  {"DID", 0x7110},
                  {"Func", 0}}),
            STATUS_SUCCESS);
  EXPECT_EQ(Controller.SmbBase, 0x0E00);
  EXPECT_TRUE(board.function->Decoding());
}

class Parameters : public StartUp {
 protected:
  const std::wstring servicePath = ntemu::Widen(kServiceKey);
  UNICODE_STRING Path() {
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, servicePath.c_str());
    return path;
  }
  ULONG Query(const wchar_t* name, ULONG defaultValue) {
    UNICODE_STRING path = Path();
    return QueryParameter(&path, L"\\Parameters", name, REG_DWORD, 4, defaultValue);
  }
  const std::string parameters = std::string(kServiceKey) + "\\Parameters";
};

TEST_F(Parameters, ValueOrDefault) {
  ntemu::RegistrySetDword(parameters, "Chipset", 7);
  EXPECT_EQ(Query(L"Chipset", 11), 7u);
  EXPECT_EQ(Query(L"chipset", 11), 7u);  // names ignore case
  EXPECT_EQ(Query(L"VID", 0x1234), 0x1234u);
  ntemu::RegistrySetValue(parameters, "DID", {REG_BINARY, std::vector<uint8_t>(8, 0x77)});
  EXPECT_EQ(Query(L"DID", 0x55), 0x55u);  // too long for the variable: refused
}

// Only a four-byte REG_DWORD is a value; any other type or length counts as
// absent, and never writes past the four-byte result.
TEST_F(Parameters, ValuesOfAnotherTypeCountAsAbsent) {
  const std::wstring text = L"2";
  const auto* textBytes = reinterpret_cast<const uint8_t*>(text.c_str());
  const struct {
    const char* what;
    ntemu::RegistryValue value;
  } cases[] = {
      {"string", {REG_SZ, {textBytes, textBytes + (text.size() + 1) * sizeof(wchar_t)}}},
      {"expandable string", {REG_EXPAND_SZ, {textBytes, textBytes + sizeof(wchar_t)}}},
      {"eight binary bytes", {REG_BINARY, std::vector<uint8_t>(8, 0x02)}},
      {"four binary bytes", {REG_BINARY, {0x02, 0, 0, 0}}},
      {"two-byte dword", {REG_DWORD, {0x02, 0}}},
      {"eight-byte dword", {REG_DWORD, std::vector<uint8_t>(8, 0x02)}},
  };
  const auto dword = [](uint8_t low) { return ntemu::RegistryValue{REG_DWORD, {low, 0, 0, 0}}; };
  for (const auto& c : cases) {
    ntemu::RegistrySetValue(parameters, "Func", c.value);
    EXPECT_EQ(Query(L"Func", 0xFFFF), 0xFFFFu) << c.what;
    // A Chipset of another type leaves the default 11: not configurable.
    driver = std::make_unique<ntemu::LoadedDriver>(
        DriverEntry, std::vector<ntemu::RegFileKey>{{parameters,
                                                     {{"I2CDriverEnable", dword(1)},
                                                      {"Chipset", c.value},
                                                      {"VID", dword(0x86)},
                                                      {"DID", dword(0x30)},
                                                      {"Func", dword(3)}}}});
    EXPECT_EQ(driver->Status(), STATUS_REGISTRY_CORRUPT) << c.what;
    EXPECT_EQ(Controller.Chipset, 11) << c.what;
    driver.reset();
  }
}

TEST_F(Parameters, MissingKeyGivesTheDefault) {
  // An optional key that is missing is no error and writes nothing: the
  // result must be preset with the default.
  EXPECT_EQ(Query(L"Chipset", 11), 11u);
  ntemu::RegistryCreateKey(kServiceKey);
  EXPECT_EQ(Query(L"Func", 0xFFFF), 0xFFFFu);
}

TEST_F(Parameters, PathBufferIsTaggedPagedSizedAndFreed) {
  ntemu::RegistrySetDword(parameters, "VID", 0x8086);
  EXPECT_EQ(Query(L"VID", 0), 0x8086u);
  const ntemu::PoolAllocation buffer = ntemu::PoolLastAllocation();
  EXPECT_EQ(buffer.tag, kPathBufferTag);
  EXPECT_EQ(buffer.tag, 0x206B6444u);  // "Ddk " in memory order
  EXPECT_EQ(buffer.poolType, PagedPool);
  const size_t suffixCharacters = std::wcslen(L"\\Parameters");
  EXPECT_EQ(buffer.size, Path().Length + (suffixCharacters + 2) * sizeof(WCHAR));
  EXPECT_EQ(ntemu::PoolOutstanding(), 0u);
}

TEST_F(Parameters, AllocationFailureGivesTheDefault) {
  ntemu::RegistrySetDword(parameters, "VID", 0x8086);
  ntemu::PoolFailNextAllocations(1);
  EXPECT_EQ(Query(L"VID", 0x42), 0x42u);
  EXPECT_EQ(Query(L"VID", 0x42), 0x8086u);

  ntemu::PoolFailNextAllocations(2);  // both enable flags read as their default 0
  EXPECT_EQ(Load({{"ISAPortDriverEnable", 1}}), STATUS_UNSUCCESSFUL);
}

TEST_F(Parameters, LongServicePathDoesNotWrapTheBufferSize) {
  std::wstring longPath(32766, L'k');  // the longest a counted string can describe
  UNICODE_STRING path;
  path.Buffer = longPath.data();
  path.Length = static_cast<USHORT>(0xFFFE / sizeof(WCHAR) * sizeof(WCHAR));
  path.MaximumLength = path.Length;
  EXPECT_EQ(QueryParameter(&path, L"\\Parameters", L"VID", REG_DWORD, 4, 9), 9u);
  EXPECT_GT(ntemu::PoolLastAllocation().size, path.Length);
}

}  // namespace
