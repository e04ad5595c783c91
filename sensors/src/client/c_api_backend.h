// What the C interface runs on, per platform: a client whose SMBus requests
// go through the sequence hold, and what the driver says about itself.
#pragma once

#include <omzi2c/omzi2c_client.h>

#include <memory>
#include <string>

#include "omzi2c_client/client.h"
#include "omzi2c_client/holding_transport.h"

namespace omzi2c::client {

class Backend {
 public:
  virtual ~Backend() = default;
  virtual Client& Requests() = 0;
  virtual HoldingTransport& Holding() = 0;
  virtual void Info(int32_t* chipset, uint32_t* base, uint32_t* services) = 0;
};

// Opens the driver as omzi2c_open describes; the reason in `message` on failure.
omzi2c_status OpenBackend(const char* options, uint32_t flags, std::unique_ptr<Backend>* backend,
                          std::string* message);

}  // namespace omzi2c::client
