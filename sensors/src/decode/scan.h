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

// The module at `chip`, all its bytes; empty when nothing answers there or
// the bus failed, with a note in `notes` when it stopped answering. Reads
// only, except for a module whose type byte names DDR4: its upper page is
// read after a write to the page-1 select address, and page 0 is selected
// again afterwards; and a DDR5 module's SPD hub (MR0:MR1 read 0x51 0x18,
// type byte neither DDR3 nor DDR4): its eight pages are read through writes
// of its MR11, which is put back as it was.
std::optional<ModuleRead> ReadModule(BusReader& bus, uint8_t chip, std::vector<std::string>* notes);

}  // namespace omzi2c::decode
