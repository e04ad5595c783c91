// A session's requests allocate nothing once its buffers have grown: the
// client's record is on the stack, the reply buffer is the caller's, and the
// I/O manager reuses the session's IRP, stack location and system buffer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "board/simulated_board.h"
#include "driver_entry.h"
#include "ntemu/clock.h"
#include "ntemu/driver_loader.h"
#include "ntemu/port_space.h"
#include "omzi2c_client/client.h"
#include "omzi2c_client/in_process_transport.h"
#include "support/loaded_board.h"

// The sanitizers' runtime brings its own allocation functions.
#if defined(__SANITIZE_ADDRESS__)
#define OMZI2C_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OMZI2C_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef OMZI2C_COUNT_ALLOCATIONS
#define OMZI2C_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<size_t> allocations{0};
}  // namespace

#if OMZI2C_COUNT_ALLOCATIONS
void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
#endif

namespace {

using omzi2c::client::Client;
using omzi2c::client::Response;

struct Request {
  const char* what;
  void (*issue)(Client&, Response*);
  bool succeeds;
};

TEST(RequestPath, NoAllocationPerRequest) {
  if (!OMZI2C_COUNT_ALLOCATIONS) GTEST_SKIP() << "allocations are not counted in sanitized builds";
  ntemu::VirtualClock clock(/*recordPauses=*/false);
  ntemu::ScopedClock useClock(&clock);
  board::SimulatedBoard board{board::BoardConfig{}};
  board.Bus().KeepLog(false);  // the simulated bus's own log is no part of the path
  ntemu::ScopedPortSpace usePorts(&board.Ports());
  ntemu::LoadedDriver driver(DriverEntry, ntemu::ParseRegFile(omzi2c::testing::ParametersFor(2)));
  ASSERT_TRUE(driver.Loaded());
  omzi2c::client::InProcessTransport transport(driver.Device());
  Client client(transport);
  Response response;

  const Request requests[] = {
      {"read byte", [](Client& c, Response* r) { c.ReadWithCommand(0x50, 0x02, 1, r); }, true},
      {"read word", [](Client& c, Response* r) { c.ReadWithCommand(0x50, 0x02, 2, r); }, true},
      {"receive byte", [](Client& c, Response* r) { c.ReceiveBytes(0x50, 1, r); }, true},
      {"read from an absent chip", [](Client& c, Response* r) { c.ReadWithCommand(0x30, 0, 1, r); },
       false},
  };
  for (const Request& request : requests) {  // buffers grow to their size
    request.issue(client, &response);
  }
  for (const Request& request : requests) {
    SCOPED_TRACE(request.what);
    const size_t before = allocations.load();
    for (int i = 0; i < 100; ++i)
      request.issue(client, &response);
    EXPECT_EQ(allocations.load(), before);
    EXPECT_EQ(response.Succeeded(), request.succeeds);
  }
}

}  // namespace
