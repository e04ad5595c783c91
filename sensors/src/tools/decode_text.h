// The text the sensors and spd commands print, in the manner of lm-sensors'
// sensors and of decode-dimms.
#pragma once

#include <string>
#include <vector>

#include "decode/readings.h"
#include "decode/scan.h"

namespace omzi2c::tool {

// How the locale lets temperatures be written: a degree sign and C where it reads
// UTF-8 (LC_ALL, LC_CTYPE or LANG, the first one set), " C" elsewhere.
std::string DegreesText();
// The chip's name as lm-sensors gives it ("jc42-i2c-0-18").
std::string ChipName(const decode::ChipReport& chip);
// One chip as lm-sensors prints it, its adapter named `adapter`.
std::string ChipText(const decode::ChipReport& chip, const std::string& adapter,
                     const std::string& degrees);
// The full decode.
std::string ModuleText(const decode::ModuleRead& module);

}  // namespace omzi2c::tool
