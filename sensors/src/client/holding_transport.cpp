#include "omzi2c_client/holding_transport.h"

#include <omzi2c/omzi2c.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace omzi2c::client {

uint64_t CurrentThreadId() {
#ifdef _WIN32
  return static_cast<uint64_t>(GetCurrentThreadId()) + 1;
#else
  static_assert(sizeof(pthread_t) <= sizeof(uint64_t), "pthread_t fits");
  return static_cast<uint64_t>(pthread_self()) | 1u;  // an address: never 0 this way
#endif
}

bool IsSmbusCode(uint32_t code) {
  return code != kIoctlPortRead && code != kIoctlPortWrite;
}

HoldingTransport::~HoldingTransport() {
  // A sequence the closing thread left open ends with it.
  if (owner_.load() == CurrentThreadId() && hold_) hold_->Release();
}

HoldOutcome HoldingTransport::Lock() {
  const uint64_t self = CurrentThreadId();
  if (!hold_) return HoldOutcome::kTaken;
  if (owner_.load(std::memory_order_relaxed) == self) {
    ++depth_;
    return HoldOutcome::kTaken;
  }
  const HoldOutcome outcome = hold_->Take(waitLimitMs_.load(std::memory_order_relaxed));
  if (outcome == HoldOutcome::kTimedOut) return outcome;
  if (outcome == HoldOutcome::kTakenAbandoned) abandoned_.fetch_add(1);
  owner_.store(self, std::memory_order_relaxed);
  depth_ = 1;
  return outcome;
}

bool HoldingTransport::Unlock() {
  if (!hold_) return true;
  if (owner_.load(std::memory_order_relaxed) != CurrentThreadId()) return false;
  if (--depth_ != 0) return true;
  owner_.store(0, std::memory_order_relaxed);
  hold_->Release();
  return true;
}

Response HoldingTransport::Control(uint32_t code, const std::vector<uint8_t>& input,
                                   uint32_t outputLength) {
  Response response;
  ControlInto(code, input.data(), static_cast<uint32_t>(input.size()), outputLength, &response);
  return response;
}

void HoldingTransport::ControlInto(uint32_t code, const uint8_t* input, uint32_t inputLength,
                                   uint32_t outputLength, Response* response) {
  if (!IsSmbusCode(code)) {
    inner_.ControlInto(code, input, inputLength, outputLength, response);
    return;
  }
  if (Lock() == HoldOutcome::kTimedOut) {
    // The bus was held by another program past the limit: as the driver
    // answers when its bus event stays taken, with nothing transferred.
    response->status = kStatusIoTimeout;
    response->transferred = 0;
    response->reply.clear();
    response->errorReply.clear();
    return;
  }
  inner_.ControlInto(code, input, inputLength, outputLength, response);
  Unlock();
}

}  // namespace omzi2c::client
