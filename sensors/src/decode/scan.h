// The read-only scan behind `sensors` and `spd`: each chip identified by its
// ID registers, then read and decoded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/bus_reader.h"
#include "decode/readings.h"
#include "decode/spd.h"

namespace omzi2c::decode {

struct ModuleRead {
  uint8_t address = 0;
  std::vector<uint8_t> bytes;
  SpdModule module;
};

struct ScanResult {
  std::vector<ChipReport> chips;
  std::vector<std::string> notes;  // chips that stopped answering, skipped
};

// Every known chip on the bus, DDR5 modules' SPD hubs for their sensor
// (memory modules themselves are read by ReadModule). Stops at a bus
// failure (bus.Failed()).
ScanResult ScanSensors(BusReader& bus);

// The module at `chip`, all its bytes (DDR4: both pages, page 0 selected
// again afterwards; DDR5: the hub's eight pages, its page put back); empty when nothing answers
// there or the bus failed, with a note in `notes` when it stopped answering.
std::optional<ModuleRead> ReadModule(BusReader& bus, uint8_t chip, std::vector<std::string>* notes);

}  // namespace omzi2c::decode
