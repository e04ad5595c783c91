// Transport to a driver loaded in this process on the user-space stand-in:
// requests go through the stand-in's I/O manager as buffered device control.
#pragma once

#include <functional>
#include <utility>

#include "omzi2c_client/client.h"

struct _DEVICE_OBJECT;

namespace ntemu {
struct IoResult;
}

namespace omzi2c::client {

class InProcessTransport : public Transport {
 public:
  // Sees every request as the I/O manager completed it, system buffer included.
  using CompletionObserver = std::function<void(const ntemu::IoResult&)>;

  explicit InProcessTransport(_DEVICE_OBJECT* device, CompletionObserver observer = {})
      : device_(device), observer_(std::move(observer)) {}
  Response Control(uint32_t code, const std::vector<uint8_t>& input,
                   uint32_t outputLength) override;

 private:
  _DEVICE_OBJECT* device_;
  CompletionObserver observer_;
};

}  // namespace omzi2c::client
