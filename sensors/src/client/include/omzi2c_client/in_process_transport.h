// Transport to a driver loaded in this process on the user-space stand-in:
// requests go through the stand-in's I/O manager as buffered device control.
#pragma once

#include "ntemu/io_manager.h"
#include "omzi2c_client/client.h"

namespace omzi2c::client {

// Requests reuse the transport's IRP, stack location and system buffer: one
// transport serves one thread at a time (give each client thread its own).
class InProcessTransport : public Transport {
 public:
  explicit InProcessTransport(PDEVICE_OBJECT device) : slot_(device) {}
  Response Control(uint32_t code, const std::vector<uint8_t>& input,
                   uint32_t outputLength) override;
  void ControlInto(uint32_t code, const uint8_t* input, uint32_t inputLength, uint32_t outputLength,
                   Response* response) override;

 private:
  ntemu::RequestSlot slot_;
};

}  // namespace omzi2c::client
