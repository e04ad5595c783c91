// The optional HostFunction parameter: it moves discovery to another
// function of the located device, is refused unless a REG_DWORD of 0 to 7,
// and naming a kind's own function changes no port access.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "board/simulated_board.h"
#include "controller_state.h"
#include "driver_entry.h"
#include "ntemu/clock.h"
#include "ntemu/driver_loader.h"
#include "ntemu/objects.h"
#include "ntemu/pool.h"
#include "ntemu/port_space.h"
#include "ntemu/registry.h"
#include "ntemu/trace.h"
#include "omzi2c_client/client.h"
#include "omzi2c_client/in_process_transport.h"

namespace {

const char kParameters[] =
    "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters";

ntemu::RegistryValue Dword(uint32_t value) {
  return {REG_DWORD,
          {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)}};
}

using Values = std::vector<std::pair<std::string, ntemu::RegistryValue>>;

Values ParametersFor(const board::BoardConfig& config) {
  return {{"I2CDriverEnable", Dword(1)},
          {"Chipset", Dword(static_cast<uint32_t>(config.chipset))},
          {"VID", Dword(config.vendorId)},
          {"DID", Dword(config.deviceId)},
          {"Func", Dword(config.function)}};
}

class HostFunction : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override {
    driver.reset();
    EXPECT_EQ(ntemu::PoolOutstanding(), 0u);
    Reset();
  }
  static void Reset() {
    ntemu::ResetObjects();
    ntemu::RegistryClear();
    ntemu::PoolReset();
    Controller = ControllerState{};
  }
  NTSTATUS Start(board::SimulatedBoard& board, Values values) {
    ntemu::ScopedPortSpace use(&board.Ports());
    driver.reset();
    ntemu::ResetObjects();
    driver = std::make_unique<ntemu::LoadedDriver>(
        DriverEntry, std::vector<ntemu::RegFileKey>{{kParameters, values}});
    return driver->Status();
  }

  ntemu::VirtualClock clock;
  ntemu::ScopedClock useClock{&clock};
  std::unique_ptr<ntemu::LoadedDriver> driver;
};

// A Chipset 2 host at function 4 with an audio device at function 3. The
// Chipset 2 steps on function 3 are: command register (0x04) OR 0x01, then
// 0x40 OR 0x01, then the base from 0x20; the audio device has no base
// there, so without HostFunction the driver does not start, and has set
// those two bits on the audio device.
TEST_F(HostFunction, ServesAHostAtAnotherFunctionAndLeavesTheRowsFunctionAlone) {
  {
    board::SimulatedBoard board(board::HostAtFunction4Config());
    EXPECT_EQ(Start(board, ParametersFor(board.Config())), STATUS_NO_SUCH_DEVICE);
    const board::PciFunction* audio = board.NeighbourAt(3);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->Config(0x04) & 0x01, 0x01u);
    EXPECT_EQ(audio->Config(0x40) & 0x01, 0x01u);
    EXPECT_EQ(audio->SoftwareWrites(), 2u);
    EXPECT_FALSE(board.HostFunction()->Decoding());
  }
  board::SimulatedBoard board(board::HostAtFunction4Config());
  Values values = ParametersFor(board.Config());
  values.push_back({"HostFunction", Dword(4)});
  ASSERT_EQ(Start(board, values), STATUS_SUCCESS);
  EXPECT_EQ(board.NeighbourAt(3)->SoftwareWrites(), 0u);
  EXPECT_TRUE(board.HostFunction()->Decoding());
  EXPECT_EQ(Controller.SmbBase, board.Config().smbBase);
  ntemu::ScopedPortSpace use(&board.Ports());
  omzi2c::client::InProcessTransport transport(driver->Device());
  omzi2c::client::Client client(transport);
  const auto read = client.ReadWithCommand(board::address::kFirstModule, 0, 1);
  ASSERT_TRUE(read.Succeeded());
  ASSERT_EQ(read.reply.size(), 1u);
  EXPECT_EQ(read.reply[0], board::MemoryModuleSpd(0)[0]);
}

// Like the other values, a HostFunction the driver cannot use stops
// start-up as a corrupt configuration, before PCI is touched.
TEST_F(HostFunction, AnythingButADwordOfZeroToSevenIsACorruptConfiguration) {
  const std::vector<uint8_t> text = {'4', 0, 0, 0};
  const struct {
    const char* what;
    ntemu::RegistryValue value;
  } cases[] = {
      {"8", Dword(8)},
      {"all ones", Dword(0xFFFFFFFF)},
      {"string", {REG_SZ, text}},
      {"four binary bytes", {REG_BINARY, {4, 0, 0, 0}}},
      {"two-byte dword", {REG_DWORD, {4, 0}}},
  };
  for (const auto& c : cases) {
    board::SimulatedBoard board(board::HostAtFunction4Config());
    Values values = ParametersFor(board.Config());
    values.push_back({"HostFunction", c.value});
    EXPECT_EQ(Start(board, values), STATUS_REGISTRY_CORRUPT) << c.what;
    EXPECT_EQ(board.HostFunction()->SoftwareWrites(), 0u) << c.what;
    EXPECT_EQ(board.NeighbourAt(3)->SoftwareWrites(), 0u) << c.what;
  }
}

class RecordedStart : public HostFunction {
 protected:
  std::vector<ntemu::PortAccess> Trace(int chipset, bool ownFunction) {
    board::SimulatedBoard board(board::ConfigForKind(chipset));
    Values values = ParametersFor(board.Config());
    if (ownFunction) values.push_back({"HostFunction", Dword(board.Config().hostFunction)});
    ntemu::Timeline timeline;
    ntemu::ScopedTraceSink sink(&timeline);
    EXPECT_EQ(Start(board, values), STATUS_SUCCESS) << "Chipset " << chipset;
    std::vector<ntemu::PortAccess> accesses;
    for (const auto& entry : timeline.Entries()) {
      if (!entry.isPause) accesses.push_back(entry.access);
    }
    return accesses;
  }
};

// Every kind's board places its host at the kind's own function: naming
// that function makes exactly the accesses of a start without the value.
TEST_F(RecordedStart, NamingTheKindsOwnFunctionChangesNoAccess) {
  for (int chipset = 1; chipset <= 10; ++chipset) {
    const std::vector<ntemu::PortAccess> without = Trace(chipset, false);
    EXPECT_FALSE(without.empty());
    EXPECT_EQ(Trace(chipset, true), without) << "Chipset " << chipset;
  }
}

}  // namespace
