// The sensors and spd commands: read-only scans that identify chips by their
// ID registers and print what they hold.
#include <algorithm>

#include "decode/scan.h"
#include "tools/command.h"
#include "tools/decode_json.h"
#include "tools/decode_text.h"

namespace omzi2c::tool {

namespace {

// Nothing to do for --json when the build has no JSON: says so, true then.
bool NoJson(Command& c, bool json) {
  if (!json || JsonAvailable()) return false;
  c.Err() << "Error: this omzi2c was built without JSON output (nlohmann-json)\n";
  return true;
}

// Says why the scan stopped; the exit status.
int Stopped(Command& c, const decode::BusReader& bus) {
  c.Check(bus.Failure(), bus.FailedWhat());
  c.Err() << "Error: " << c.Name() << " stopped: a failure other than 'no device there'\n";
  return kExitFailed;
}

void PrintNotes(Command& c, const std::vector<std::string>& notes) {
  for (const std::string& note : notes)
    c.Err() << "Note: " << note << "\n";
}

// The modules named on the command line, or every address they may sit at.
std::optional<std::vector<uint8_t>> ModuleAddresses(Command& c) {
  std::vector<uint8_t> chips;
  if (c.Count() == 0) {
    for (unsigned chip = decode::spd::kFirstAddress; chip <= decode::spd::kLastAddress; ++chip)
      chips.push_back(static_cast<uint8_t>(chip));
    return chips;
  }
  for (size_t i = 0; i < c.Count(); ++i) {
    const auto chip = c.Number(i, 0x7F, "chip address");
    if (!chip) return std::nullopt;
    if (*chip < decode::spd::kFirstAddress || *chip > decode::spd::kLastAddress) {
      c.Usage("memory modules sit at 0x50-0x57, not " + Hex2(*chip));
      return std::nullopt;
    }
    chips.push_back(static_cast<uint8_t>(*chip));
  }
  return chips;
}

}  // namespace

int Sensors(Command& c) {
  const bool json = c.Options().json;
  if (c.Count() != 0) return c.Usage("sensors takes no arguments");
  if (NoJson(c, json)) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  decode::BusReader bus(c.Driver());
  const decode::ScanResult scan = decode::ScanSensors(bus);
  PrintNotes(c, scan.notes);
  if (bus.Failed()) return Stopped(c, bus);
  const std::string adapter = c.CurrentSession().AdapterName();
  if (json) {
    c.Out() << *SensorsJson(scan, adapter);
    return kExitOk;
  }
  const std::string degrees = DegreesText();
  for (const decode::ChipReport& chip : scan.chips)
    c.Out() << ChipText(chip, adapter, degrees) << "\n";
  return kExitOk;
}

int Spd(Command& c) {
  const bool json = c.Options().json;
  const auto chips = ModuleAddresses(c);
  if (!chips) return kExitUsage;
  if (NoJson(c, json)) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  decode::BusReader bus(c.Driver());
  std::vector<std::string> notes;
  std::vector<decode::ModuleRead> modules;
  for (uint8_t chip : *chips) {
    const size_t noted = notes.size();  // a module that said why it was not read
    if (auto module = decode::ReadModule(bus, chip, &notes)) {
      modules.push_back(*module);
    } else if (c.Count() != 0 && !bus.Failed() && notes.size() == noted) {
      notes.push_back("no module answers at " + Hex2(chip));
    }
    if (bus.Failed()) break;
  }
  if (c.Count() == 0 && modules.empty() && !bus.Failed()) {
    notes.push_back("no memory module answers at 0x50-0x57");
  }
  PrintNotes(c, notes);
  if (bus.Failed()) return Stopped(c, bus);
  if (json) {
    c.Out() << *ModulesJson(modules);
  } else {
    for (size_t i = 0; i < modules.size(); ++i)
      c.Out() << (i ? "\n" : "") << ModuleText(modules[i]);
  }
  return modules.empty() || modules.size() < c.Count() ? kExitFailed : kExitOk;
}

}  // namespace omzi2c::tool
