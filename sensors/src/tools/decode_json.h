// The JSON documents the sensors and spd commands print with --json: the
// same content as their text, values as numbers with their units named.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "decode/scan.h"

namespace omzi2c::tool {

// Whether this build has JSON output (it needs nlohmann-json at build time).
bool JsonAvailable();

// Empty when JSON output is not built in.
std::optional<std::string> SensorsJson(const decode::ScanResult& scan);
std::optional<std::string> ModulesJson(const std::vector<decode::ModuleRead>& modules);

}  // namespace omzi2c::tool
