// The sequence hold on Linux: with real ports, a lock file in the bus lock
// folder beside the bus event's own, shared by every process that uses the
// library or the tool; on the simulated board, which no other process sees,
// a lock of the process's own. Both are robust: a holder that died is taken
// over and reported as abandoned.
#pragma once

#include <memory>
#include <string>

#include "omzi2c_client/holding_transport.h"

namespace omzi2c::client {

// The lock file's name, as a named event's would be: "<folder>/omzi2csequencehold.lock".
constexpr char kSequenceLockName[] = "\\OMZI2CSequenceHold";

std::unique_ptr<SharedHold> MakeProcessHold();
// Null with the reason when the file cannot be made, mapped or trusted (the
// bus lock file's own checks apply).
std::unique_ptr<SharedHold> MakeFileHold(std::string* error);

}  // namespace omzi2c::client
