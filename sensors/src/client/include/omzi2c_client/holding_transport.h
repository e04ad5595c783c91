// The sequence hold: a lock shared with other programs that drive the same
// SMBus, taken around each SMBus request (never a port request) and held
// across a sequence of requests by Hold()/Release(). Lock order: this hold
// first, then the driver's bus event, which each request takes in the driver.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "omzi2c_client/client.h"

namespace omzi2c::client {

enum class HoldOutcome { kTaken, kTakenAbandoned, kTimedOut };

// What the hold is made of on each platform: a named mutex on Windows, a
// lock file or a lock of the process's own on Linux. Owned by threads: the
// thread that took it releases it.
class SharedHold {
 public:
  virtual ~SharedHold() = default;
  // Waits at most `milliseconds` (0: one try).
  virtual HoldOutcome Take(uint32_t milliseconds) = 0;
  virtual void Release() = 0;
};

// The longest wait for the hold: as long as the driver waits for its bus event.
constexpr uint32_t kHoldWaitLimitMs = 30000;

// A transport that runs each SMBus request under the hold. The hold nests in
// the thread that has it; a thread that does not have it waits for it. A
// request that cannot get it within the limit completes with
// STATUS_IO_TIMEOUT without reaching the driver.
class HoldingTransport : public Transport {
 public:
  // `hold` null: no hold at all (the caller holds the shared lock itself).
  HoldingTransport(Transport& inner, std::unique_ptr<SharedHold> hold)
      : inner_(inner), hold_(std::move(hold)) {}
  ~HoldingTransport() override;

  Response Control(uint32_t code, const std::vector<uint8_t>& input,
                   uint32_t outputLength) override;
  void ControlInto(uint32_t code, const uint8_t* input, uint32_t inputLength, uint32_t outputLength,
                   Response* response) override;
  bool Hold() override { return Lock() != HoldOutcome::kTimedOut; }
  void Release() override { Unlock(); }

  HoldOutcome Lock();
  // False when the calling thread does not have the hold.
  bool Unlock();
  void SetWaitLimit(uint32_t milliseconds) { waitLimitMs_.store(milliseconds); }
  // Holds taken from a holder that ended without releasing, since last asked.
  uint32_t TakeAbandonedCount() { return abandoned_.exchange(0); }
  bool Shared() const { return hold_ != nullptr; }

 private:
  Transport& inner_;
  std::unique_ptr<SharedHold> hold_;
  std::atomic<uint64_t> owner_{0};  // thread that has the hold, 0 for none
  uint32_t depth_ = 0;              // touched only by the owner
  std::atomic<uint32_t> waitLimitMs_{kHoldWaitLimitMs};
  std::atomic<uint32_t> abandoned_{0};
};

// The calling thread's identity, never 0.
uint64_t CurrentThreadId();

// Whether `code` is an SMBus request (one that runs under the hold).
bool IsSmbusCode(uint32_t code);

}  // namespace omzi2c::client
