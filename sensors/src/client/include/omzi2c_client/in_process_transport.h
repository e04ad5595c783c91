// Transport to a driver loaded in this process on the user-space stand-in:
// requests go through the stand-in's I/O manager as buffered device control.
#pragma once

#include "omzi2c_client/client.h"

struct _DEVICE_OBJECT;

namespace omzi2c::client {

class InProcessTransport : public Transport {
 public:
  explicit InProcessTransport(_DEVICE_OBJECT* device) : device_(device) {}
  Response Control(uint32_t code, const std::vector<uint8_t>& input,
                   uint32_t outputLength) override;

 private:
  _DEVICE_OBJECT* device_;
};

}  // namespace omzi2c::client
