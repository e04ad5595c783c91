// The JSON documents the sensors and spd commands print with --json: for
// sensors the shape of lm-sensors' `sensors -j` (chips by name, features by
// label, subfeatures as temp1_input, in0_min, fan1_input; alarms 0 or 1),
// for spd the module's decode with its units named.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "decode/scan.h"

namespace omzi2c::tool {

// Whether this build has JSON output (it needs nlohmann-json at build time).
bool JsonAvailable();

// Empty when JSON output is not built in.
std::optional<std::string> SensorsJson(const decode::ScanResult& scan, const std::string& adapter);
std::optional<std::string> ModulesJson(const std::vector<decode::ModuleRead>& modules);

}  // namespace omzi2c::tool
