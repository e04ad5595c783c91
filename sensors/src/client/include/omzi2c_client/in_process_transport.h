// Transport to a driver loaded in this process on the user-space stand-in:
// requests go through the stand-in's I/O manager as buffered device control.
#pragma once

#include <atomic>
#include <functional>
#include <utility>

#include "ntemu/io_manager.h"
#include "omzi2c_client/client.h"

namespace omzi2c::client {

// Requests reuse the transport's IRP, stack location and system buffer, as
// the I/O manager's lookaside lists do: a request that finds them taken by
// another thread's request gets a fresh set of its own, so one transport may
// serve several threads at once, and one thread at a time allocates nothing.
class InProcessTransport : public Transport {
 public:
  // Sees every request as the I/O manager completed it, system buffer included.
  using CompletionObserver = std::function<void(const ntemu::IoResult&)>;

  explicit InProcessTransport(PDEVICE_OBJECT device, CompletionObserver observer = {})
      : device_(device), slot_(device), observer_(std::move(observer)) {}
  Response Control(uint32_t code, const std::vector<uint8_t>& input,
                   uint32_t outputLength) override;
  void ControlInto(uint32_t code, const uint8_t* input, uint32_t inputLength, uint32_t outputLength,
                   Response* response) override;

 private:
  void ControlThrough(ntemu::RequestSlot& slot, uint32_t code, const uint8_t* input,
                      uint32_t inputLength, uint32_t outputLength, Response* response);

  PDEVICE_OBJECT device_;
  ntemu::RequestSlot slot_;
  std::atomic_flag slotTaken_ = ATOMIC_FLAG_INIT;
  CompletionObserver observer_;
};

}  // namespace omzi2c::client
