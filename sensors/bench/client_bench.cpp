// One read-byte request through the whole path: the client library builds
// the record, the stand-in's I/O manager issues it as buffered device control
// in the session's reused IRP and system buffer, the driver validates it,
// takes the bus event, runs a read byte on the Chipset 2 host model of the
// simulated board, and replies.
//
// BM_ClientReadByte/threads:1 is one client; /threads:4 is four clients, each
// with a session of its own, sharing the driver and the bus event. Its
// items_per_second is the aggregate: requests completed by all four per
// second of wall time, to compare with one client's. BM_ClientReadByteAlloc
// is the same single client through the allocating calls, for comparison.
#include <benchmark/benchmark.h>

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

// The board and the loaded driver, shared by every benchmark and thread.
struct Bench {
  ntemu::VirtualClock clock{/*recordPauses=*/false};
  ntemu::ScopedClock useClock{&clock};
  board::SimulatedBoard board{board::BoardConfig{}};
  ntemu::ScopedPortSpace ports{&board.Ports()};
  ntemu::LoadedDriver driver{DriverEntry, ntemu::ParseRegFile(omzi2c::testing::ParametersFor(2))};
  Bench() { board.Bus().KeepLog(false); }  // millions of transactions
};

Bench& Shared() {
  static Bench bench;
  return bench;
}

bool Expected(const omzi2c::client::Response& response) {
  return response.reply.size() == 1 && response.reply[0] == kMemoryType;
}

void BM_ClientReadByte(benchmark::State& state) {
  Bench& bench = Shared();
  if (!bench.driver.Loaded()) {
    state.SkipWithError("driver did not start");
    return;
  }
  // This thread's session: its own transport (IRP, system buffer) and reply.
  omzi2c::client::InProcessTransport transport(bench.driver.Device());
  omzi2c::client::Client client(transport);
  omzi2c::client::Response response;
  for (auto _ : state) {
    client.ReadWithCommand(kModule, kMemoryTypeRegister, 1, &response);
    if (!Expected(response)) {
      state.SkipWithError("unexpected reply");
      break;
    }
    benchmark::DoNotOptimize(response.reply.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ClientReadByte)->Threads(1)->UseRealTime();
BENCHMARK(BM_ClientReadByte)->Threads(4)->UseRealTime();

void BM_ClientReadByteAlloc(benchmark::State& state) {
  Bench& bench = Shared();
  if (!bench.driver.Loaded()) {
    state.SkipWithError("driver did not start");
    return;
  }
  omzi2c::client::InProcessTransport transport(bench.driver.Device());
  omzi2c::client::Client client(transport);
  for (auto _ : state) {
    omzi2c::client::Response response = client.ReadWithCommand(kModule, kMemoryTypeRegister, 1);
    if (!Expected(response)) {
      state.SkipWithError("unexpected reply");
      break;
    }
    benchmark::DoNotOptimize(response);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ClientReadByteAlloc)->UseRealTime();

}  // namespace
