// One read request end to end: the client library builds the record, the
// stand-in's I/O manager issues it as buffered device control, the driver
// validates it, takes the bus event, runs a read byte on the Chipset 2 host
// model of the simulated board, and replies. Single-threaded, and with four
// threads sharing the bus event.
#include <benchmark/benchmark.h>

#include <memory>

#include "board/simulated_board.h"
#include "driver_entry.h"
#include "ntemu/clock.h"
#include "ntemu/driver_loader.h"
#include "ntemu/port_space.h"
#include "omzi2c_client/client.h"
#include "omzi2c_client/in_process_transport.h"

namespace {

const char kParameters[] =
    "REGEDIT4\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters]\r\n"
    "\"I2CDriverEnable\"=dword:00000001\r\n"
    "\"Chipset\"=dword:00000002\r\n"
    "\"VID\"=dword:00008086\r\n"
    "\"DID\"=dword:00002930\r\n"
    "\"Func\"=dword:00000003\r\n";

// The board and the loaded driver, shared by every benchmark and thread.
struct Bench {
  ntemu::VirtualClock clock{/*recordPauses=*/false};
  ntemu::ScopedClock useClock{&clock};
  board::SimulatedBoard board{board::BoardConfig{}};
  ntemu::ScopedPortSpace ports{&board.Ports()};
  ntemu::LoadedDriver driver{DriverEntry, ntemu::ParseRegFile(kParameters)};
  omzi2c::client::InProcessTransport transport{driver.Device()};
  omzi2c::client::Client client{transport};
};

Bench& Shared() {
  static Bench bench;
  return bench;
}

void BM_ClientReadByte(benchmark::State& state) {
  Bench& bench = Shared();
  if (!bench.driver.Loaded()) {
    state.SkipWithError("driver did not start");
    return;
  }
  for (auto _ : state) {
    omzi2c::client::Response response = bench.client.ReadWithCommand(0x50, 0x02, 1);
    if (response.reply.size() != 1 || response.reply[0] != 0x0B) {
      state.SkipWithError("unexpected reply");
      break;
    }
    benchmark::DoNotOptimize(response);
  }
}
BENCHMARK(BM_ClientReadByte);
BENCHMARK(BM_ClientReadByte)->Threads(4)->UseRealTime();

}  // namespace
