// The sequence hold on Windows: the named mutex that hardware monitors and
// lighting tools take around their own SMBus transactions.
#pragma once

#include <memory>
#include <string>

#include "omzi2c_client/holding_transport.h"

namespace omzi2c::client {

constexpr char kSharedSmbusMutexName[] = "Global\\Access_SMBUS.HTP.Method";

// Null with the reason when the mutex can be neither created nor opened.
std::unique_ptr<SharedHold> MakeSharedMutexHold(std::string* error);

}  // namespace omzi2c::client
