// A soak of the driver on every Chipset kind: four threads share one driver
// and issue random well-formed requests of every SMBus control code, and
// harmless port reads, while the board switches faults on and off at random.
// Every request must come back with a status, no start may reach the
// controller while a transaction runs, the bus event must be free at the
// end with every satisfied wait paired with a set, and what was written to
// the memory-module EEPROMs must read back once the faults stop.
//
// Bounded in requests (OMZI2C_SOAK_REQUESTS per thread and Chipset kind,
// default 25000: a million requests in all) and in time (OMZI2C_SOAK_SECONDS for the whole run,
// default 120): past that time the threads stop early and the test fails. OMZI2C_SOAK_CHIPSET runs
// one kind only, OMZI2C_SOAK_FAULT_PERCENT sets how often each fault strikes (default 3 percent of
// transactions), OMZI2C_SOAK_FAULT names the one fault to switch.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device_extension.h"
#include "ntemu/event.h"
#include "support/loaded_board.h"

namespace {

using omzi2c::client::Client;
using omzi2c::client::PortWidth;
using omzi2c::client::Response;
using omzi2c::testing::LoadedBoard;

constexpr int kThreads = 4;
constexpr uint32_t kPending = 0x00000103;
constexpr uint8_t kBlockDevice = board::address::kBlockDevice;
constexpr uint8_t kMessageDevice = board::address::kMessageDevice;
constexpr uint8_t kSensor = board::address::kTemperatureSensor;
constexpr uint8_t kFirstOwned = 0x80;   // each thread's EEPROM bytes: 0x80..0xFF of its module
constexpr uint32_t kUnusedPort = 0x80;  // nothing on the board answers it

// Faults that end with the transaction they strike: the driver meets them
// and the host is usable again at the next transaction. Faults that keep
// the host from ever starting again are for the tests that aim at them.
const char* const kTransientFaults[] = {
    "device-error",         "collision",     "failed",         "alert",        "nak",
    "eeprom-write-protect", "block-count-0", "block-count-33", "ec-status-10", "ec-status-17",
    "ec-status-19",         "ec-status-1a",
};

uint64_t FromEnvironment(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text ? std::strtoull(text, nullptr, 10) : fallback;
}

// The values each owned EEPROM byte may hold: one once a write of it
// succeeded, more while failed writes may or may not have reached it.
struct Expectation {
  std::vector<std::set<uint8_t>> values;
  explicit Expectation(const board::SpdEeprom& module) : values(256) {
    for (unsigned at = 0; at < 256; ++at)
      values[at] = {module.At(static_cast<uint8_t>(at))};
  }
  void Wrote(uint8_t at, uint8_t value, bool succeeded) {
    if (succeeded) values[at].clear();
    values[at].insert(value);
  }
};

constexpr uint32_t kKinds = 10;  // of request, as RandomRequest picks them

struct Tally {
  uint64_t requests = 0;
  uint64_t failed = 0;
  uint64_t failedOfKind[kKinds] = {};
  uint64_t broken = 0;  // requests that came back without a proper status
};

bool ProperStatus(const Response& r) {
  if (r.status == kPending) return false;
  return r.Succeeded() ? (r.status >> 30) == 0 : r.transferred == 0;
}

// One random request of the thread that owns EEPROM module `slot`.
Response RandomRequest(Client& client, std::mt19937& random, uint8_t module, Expectation* own,
                       uint32_t* kind) {
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  const uint8_t at = static_cast<uint8_t>(kFirstOwned + pick(0x7F));
  *kind = pick(10);
  switch (*kind) {
    case 0:
      return client.ReceiveBytes(module, static_cast<uint8_t>(1 + pick(4)));
    case 1:
      return client.SendBytes(module, {at});  // sets the module's address pointer
    case 2:
      return pick(2) ? client.ReadWithCommand(module, at, static_cast<uint8_t>(pick(5)))
                     : client.ReadWithCommand(kSensor, at & 7, 2);
    case 3: {
      std::vector<uint8_t> data(1 + pick(3));
      const uint8_t first = data.size() == 2 ? static_cast<uint8_t>(at & ~1u) : at;
      for (uint8_t& b : data)
        b = static_cast<uint8_t>(random());
      if (static_cast<unsigned>(first) + data.size() > 0x100) data.resize(0x100 - first);
      const Response r = client.WriteWithCommand(module, first, data);
      for (size_t i = 0; i < data.size(); ++i)
        own->Wrote(static_cast<uint8_t>(first + i), data[i], r.Succeeded());
      return r;
    }
    case 4:
      return client.BlockRead(kBlockDevice, board::block::kIdentity);
    case 5:
      return client.BlockWrite(kBlockDevice, board::block::kScratch,
                               std::vector<uint8_t>(1 + pick(32), static_cast<uint8_t>(random())));
    case 6:
      return client.ExchangeMessage(kMessageDevice, {1, 1, static_cast<uint8_t>(random())});
    case 7:
      return client.WriteMessage(kMessageDevice, {4, 1, static_cast<uint8_t>(random())});
    default:
      return client.PortRead(pick(2) ? PortWidth::Byte : PortWidth::Word, kUnusedPort);
  }
}

TEST(Soak, FourThreadsEveryCodeFaultsSwitchingAtRandom) {
  const uint64_t perThread = FromEnvironment("OMZI2C_SOAK_REQUESTS", 25000);
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::seconds(FromEnvironment("OMZI2C_SOAK_SECONDS", 120));
  const auto began = std::chrono::steady_clock::now();
  uint64_t total = 0;
  const uint64_t only = FromEnvironment("OMZI2C_SOAK_CHIPSET", 0);
  const double percent = static_cast<double>(FromEnvironment("OMZI2C_SOAK_FAULT_PERCENT", 3));
  for (int chipset = 1; chipset <= 10; ++chipset) {
    if (only != 0 && static_cast<uint64_t>(chipset) != only) continue;
    SCOPED_TRACE("Chipset " + std::to_string(chipset));
    LoadedBoard loaded(chipset, /*recordPauses=*/false);
    ASSERT_TRUE(loaded.driver.Loaded());
    std::vector<std::string> faults;
    const char* single = std::getenv("OMZI2C_SOAK_FAULT");
    for (const char* name : kTransientFaults) {
      if (single && std::string(single) != name) continue;
      std::string error;
      const uint64_t seed = static_cast<uint64_t>(chipset) * 100 + faults.size();
      if (loaded.board.ScheduleFault(name, {1, 0, percent / 100, seed}, &error))
        faults.push_back(name);
    }
    EXPECT_GE(faults.size(), single ? 1u : 4u);

    std::vector<Expectation> expected;
    for (int t = 0; t < kThreads; ++t)
      expected.emplace_back(loaded.board.Module(static_cast<unsigned>(t)));
    std::vector<Tally> tallies(kThreads);
    std::atomic<bool> late{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        std::mt19937 random(static_cast<uint32_t>(chipset * 16 + t));
        const uint8_t module = static_cast<uint8_t>(board::address::kFirstModule + t);
        for (uint64_t i = 0; i < perThread; ++i) {
          if ((i & 63) == 0 && std::chrono::steady_clock::now() > deadline) {
            late = true;
            return;
          }
          uint32_t kind = 0;
          const Response r = RandomRequest(loaded.client, random, module, &expected[t], &kind);
          ++tallies[t].requests;
          if (!r.Succeeded()) ++tallies[t].failed;
          if (!r.Succeeded()) ++tallies[t].failedOfKind[kind];
          if (!ProperStatus(r)) ++tallies[t].broken;
        }
      });
    }
    for (std::thread& thread : threads)
      thread.join();
    EXPECT_FALSE(late) << "the soak ran past its time";

    uint64_t failed = 0;
    uint64_t failedOfKind[kKinds] = {};
    for (const Tally& tally : tallies) {
      for (uint32_t k = 0; k < kKinds; ++k)
        failedOfKind[k] += tally.failedOfKind[k];
      EXPECT_EQ(tally.requests, perThread);
      EXPECT_EQ(tally.broken, 0u);
      total += tally.requests;
      failed += tally.failed;
    }
    // The faults did strike: send bytes and block reads fail only by them
    // (composed reads and writes mostly get through on a retry).
    EXPECT_GT(failedOfKind[1] + failedOfKind[4], 0u);
    EXPECT_LT(failed, kThreads * perThread / 2);  // and the host kept working
    EXPECT_EQ(loaded.board.Overlaps(), 0u);       // no start while a transaction ran
    EXPECT_GT(loaded.board.Transactions(), perThread);
    auto* extension = static_cast<DeviceExtension*>(loaded.driver.Device()->DeviceExtension);
    EXPECT_TRUE(ntemu::IsSignalled(*extension->BusEvent));
    EXPECT_EQ(extension->BusEvent->waits.load(), extension->BusEvent->sets.load());

    // The faults stop; every owned byte reads back as last written.
    loaded.board.ClearScheduledFaults();
    for (int t = 0; t < kThreads; ++t) {
      const uint8_t module = static_cast<uint8_t>(board::address::kFirstModule + t);
      for (unsigned at = kFirstOwned; at < 0x100; ++at) {
        const Response r = loaded.client.ReadWithCommand(module, static_cast<uint8_t>(at), 1);
        ASSERT_TRUE(r.Succeeded());
        ASSERT_EQ(r.reply.size(), 1u);
        EXPECT_EQ(expected[t].values[at].count(r.reply[0]), 1u)
            << "module " << t << " byte 0x" << std::hex << at;
      }
    }
    std::printf("Chipset %d: %llu requests, %llu failed, faults:", chipset,
                static_cast<unsigned long long>(kThreads * perThread),
                static_cast<unsigned long long>(failed));
    for (const std::string& fault : faults)
      std::printf(" %s", fault.c_str());
    std::printf(
        "\n  failed of each kind (recv, send, read, write, block read, block write, "
        "exchange, write message, port, port):");
    for (uint64_t n : failedOfKind)
      std::printf(" %llu", static_cast<unsigned long long>(n));
    std::printf("\n");
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("soak: %llu requests in %.1f s, %.0f requests/s\n",
              static_cast<unsigned long long>(total), seconds, total / seconds);
}

}  // namespace
