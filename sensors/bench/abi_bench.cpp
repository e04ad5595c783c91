// One read byte data through the C interface (libomzi2c.so: argument checks,
// the sequence hold, the status mapping) against the C++ client on a driver
// of its own, both on the simulated board's Chipset 2 host. The library's
// driver is private to it, so the two run side by side in one process, and
// the repetitions of the same run compare them:
//
//   omzi2c_abi_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <omzi2c/omzi2c_client.h>

#include "board/simulated_board.h"
#include "driver_entry.h"
#include "ntemu/clock.h"
#include "ntemu/driver_loader.h"
#include "ntemu/port_space.h"
#include "omzi2c_client/client.h"
#include "omzi2c_client/in_process_transport.h"
#include "support/loaded_board.h"

namespace {

constexpr uint8_t kModule = 0x50;
constexpr uint8_t kMemoryTypeRegister = 0x02;
constexpr uint8_t kMemoryType = 0x0B;

void BM_AbiReadByteData(benchmark::State& state) {
  omzi2c_handle* bus = nullptr;
  char why[256];
  if (omzi2c_open(nullptr, 0, &bus, why, sizeof why) != OMZI2C_OK) {
    state.SkipWithError(why);
    return;
  }
  uint8_t value = 0;
  for (auto _ : state) {
    if (omzi2c_read_byte_data(bus, kModule, kMemoryTypeRegister, &value) != OMZI2C_OK ||
        value != kMemoryType) {
      state.SkipWithError("unexpected reply");
      break;
    }
    benchmark::DoNotOptimize(value);
  }
  omzi2c_close(bus);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AbiReadByteData)->UseRealTime();

void BM_CxxClientReadByteData(benchmark::State& state) {
  ntemu::VirtualClock clock{/*recordPauses=*/false};
  ntemu::ScopedClock useClock{&clock};
  board::SimulatedBoard board{board::BoardConfig{}};
  board.Bus().KeepLog(false);
  ntemu::ScopedPortSpace ports{&board.Ports()};
  ntemu::LoadedDriver driver{DriverEntry, ntemu::ParseRegFile(omzi2c::testing::ParametersFor(2))};
  if (!driver.Loaded()) {
    state.SkipWithError("driver did not start");
    return;
  }
  omzi2c::client::InProcessTransport transport(driver.Device());
  omzi2c::client::Client client(transport);
  omzi2c::client::Response response;
  for (auto _ : state) {
    client.ReadWithCommand(kModule, kMemoryTypeRegister, 1, &response);
    if (response.reply.size() != 1 || response.reply[0] != kMemoryType) {
      state.SkipWithError("unexpected reply");
      break;
    }
    benchmark::DoNotOptimize(response.reply.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CxxClientReadByteData)->UseRealTime();

}  // namespace
