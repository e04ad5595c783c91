// The text the sensors and spd commands print, in the manner of lm-sensors'
// sensors and of decode-dimms.
#pragma once

#include <string>
#include <vector>

#include "decode/readings.h"
#include "decode/scan.h"

namespace omzi2c::tool {

std::string ChipText(const decode::ChipReport& chip);
// One line: the module's type, size, speed grade and part number.
std::string ModuleLine(const decode::ModuleRead& module);
// The full decode.
std::string ModuleText(const decode::ModuleRead& module);

}  // namespace omzi2c::tool
