// Cost of one SMBus read request through the request layer: the I/O
// manager's buffered device control, DispatchRequest, validation, the bus
// event and the router. No back-end answers the configured Chipset: the read
// is tried 9 times, as every failed read is, with its pauses on a virtual
// clock, and ends with an error reply.
#include <benchmark/benchmark.h>

#include "ntemu/clock.h"
#include "support/driver_harness.h"

namespace {

using namespace omzi2c;
using omzi2c::testing::DriverHarness;
using omzi2c::testing::SmbRecord;

void BM_ReadRequestToRouter(benchmark::State& state) {
  ntemu::VirtualClock clock(/*recordPauses=*/false);
  ntemu::ScopedClock useClock(&clock);
  DriverHarness driver(false, true, /*chipset=*/0);
  const std::vector<uint8_t> record = SmbRecord(0xA0, 0x10, 2);
  for (auto _ : state) {
    omzi2c::testing::Reply reply = driver.Ioctl(kIoctlReadWithCommand, record, 2);
    benchmark::DoNotOptimize(reply);
  }
}
BENCHMARK(BM_ReadRequestToRouter);

}  // namespace
