// The PCI listing and the .reg lines for one function.
#include <cstdio>

#include "tools/command.h"
#include "tools/host_function.h"

namespace omzi2c::tool {

namespace {

// PCI configuration space through the configuration port pair, with the
// driver's raw port requests, so that the listing works wherever the port
// service does (simulated board, real ports, Windows).
namespace pci {
constexpr uint32_t kAddressPort = 0xCF8;
constexpr uint32_t kDataPort = 0xCFC;
constexpr uint32_t kEnable = 0x80000000;
constexpr unsigned kLastBus = 6;  // the driver looks on buses 0-6
constexpr unsigned kDevices = 32;
constexpr unsigned kFunctions = 8;
constexpr uint32_t kIdIndex = 0;     // vendor ID, device ID
constexpr uint32_t kClassIndex = 2;  // revision, programming interface, subclass, class
constexpr uint32_t kHeaderIndex = 3;
constexpr uint32_t kMultiFunction = 0x00800000;  // header type bit 7
constexpr uint32_t kSmbusClass = 0x0C05;         // serial bus controller, SMBus
constexpr uint16_t kNoVendor = 0xFFFF;

struct Location {
  unsigned bus, device, function;
};

std::string Name(const Location& at) {
  char text[16];
  std::snprintf(text, sizeof text, "%02x:%02x.%u", at.bus, at.device, at.function);
  return text;
}

struct Function {
  Location at;
  uint32_t id, classCode, header;
  bool Smbus() const { return classCode >> 16 == kSmbusClass; }
  bool operator==(const Function& o) const {
    return id == o.id && classCode == o.classCode && header == o.header;
  }
};

// Reads one configuration dword; false after saying why the port request
// failed.
bool Read(Command& c, const Location& at, uint32_t index, uint32_t* value) {
  const uint32_t address = kEnable | at.bus << 16 | at.device << 11 | at.function << 8 | index << 2;
  if (!c.Check(c.Driver().PortWrite(PortWidth::Dword, kAddressPort, address), "Port write")) {
    return false;
  }
  const Response r = c.Driver().PortRead(PortWidth::Dword, kDataPort);
  if (!c.Check(r, "Port read")) return false;
  *value = Client::PortValue(r, PortWidth::Dword);
  return true;
}

// The function at `at`, nullopt in `*found` when nothing answers there.
bool Probe(Command& c, const Location& at, std::optional<Function>* found) {
  Function f{at, 0, 0, 0};
  found->reset();
  if (!Read(c, at, kIdIndex, &f.id)) return false;
  const uint16_t vendor = static_cast<uint16_t>(f.id);
  if (vendor == kNoVendor || vendor == 0) return true;
  if (!Read(c, at, kClassIndex, &f.classCode) || !Read(c, at, kHeaderIndex, &f.header)) {
    return false;
  }
  *found = f;
  return true;
}

// Every function of buses 0-6. A single-function device may answer at every
// function number with function 0's registers; such copies are left out.
bool Scan(Command& c, std::vector<Function>* functions) {
  for (unsigned bus = 0; bus <= kLastBus; ++bus) {
    for (unsigned device = 0; device < kDevices; ++device) {
      std::optional<Function> first;
      for (unsigned function = 0; function < kFunctions; ++function) {
        std::optional<Function> f;
        if (!Probe(c, {bus, device, function}, &f)) return false;
        if (function == 0) first = f;
        if (!f) continue;
        if (function != 0 && first && !(first->header & kMultiFunction) && *first == *f) continue;
        functions->push_back(*f);
      }
    }
  }
  return true;
}

std::string IdText(uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", id & 0xFFFF, id >> 16);
  return text;
}

std::string ClassText(uint32_t classCode) {
  char text[8];
  std::snprintf(text, sizeof text, "%06x", classCode >> 8);
  return text;
}

// "BB:DD.F" in hex, as lspci prints it.
std::optional<Location> ParseLocation(const std::string& text) {
  unsigned bus = 0, device = 0, function = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2x:%2x.%1u%c", &bus, &device, &function, &tail) != 3) {
    return std::nullopt;
  }
  if (device >= kDevices || function >= kFunctions) return std::nullopt;
  return Location{bus, device, function};
}

std::string Dword(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "dword:%08x", value);
  return text;
}

// Chipset codes whose host sits at `function`, as "2, 3, 4 or 8".
std::string ChipsetsAt(unsigned function) {
  std::vector<uint32_t> codes;
  for (uint32_t chipset = kFirstChipset; chipset <= kLastChipset; ++chipset) {
    if (HostFunction(chipset) == function) codes.push_back(chipset);
  }
  std::string text;
  for (size_t i = 0; i < codes.size(); ++i) {
    text += i == 0 ? "" : i + 1 == codes.size() ? " or " : ", ";
    text += std::to_string(codes[i]);
  }
  return text;
}

void PrintRegFile(Command& c, const Function& f, std::optional<uint32_t> chipset) {
  std::ostream& out = c.Out();
  out << "REGEDIT4\n\n"
      << "; PCI " << Name(f.at) << ", " << IdText(f.id) << ", class " << ClassText(f.classCode)
      << (f.Smbus() ? " (SMBus controller)" : "") << "\n"
      << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters]\n"
      << "\"ISAPortDriverEnable\"=" << Dword(1) << "\n"
      << "\"I2CDriverEnable\"=" << Dword(1) << "\n";
  if (chipset) {
    out << "\"Chipset\"=" << Dword(*chipset) << "\n";
  } else {
    const std::string candidates = ChipsetsAt(f.at.function);
    out << "; The host kind cannot be detected: set Chipset (1-10) by the controller.\n";
    if (!candidates.empty()) {
      out << "; Hosts at function " << f.at.function << ": Chipset " << candidates << ".\n";
    }
    out << ";\"Chipset\"=" << Dword(0) << "\n";
  }
  out << "\"VID\"=" << Dword(f.id & 0xFFFF) << "\n"
      << "\"DID\"=" << Dword(f.id >> 16) << "\n"
      << "\"Func\"=" << Dword(f.at.function) << "\n";
}

}  // namespace pci
}  // namespace

int Pci(Command& c) {
  if (c.Count() > 2) return c.Usage("pci takes [BB:DD.F [CHIPSET]]");
  std::optional<pci::Location> chosen;
  if (c.Count() >= 1 && !(chosen = pci::ParseLocation(c.Arg(0)))) {
    return c.Usage("'" + c.Arg(0) + "' is not a PCI function BB:DD.F (hex, as 00:1f.3)");
  }
  if (chosen && chosen->bus > pci::kLastBus) {
    return c.Usage("the driver finds its controller on buses 0-6 only");
  }
  std::optional<uint32_t> chipset;
  if (c.Count() == 2 && !(chipset = c.Number(1, kLastChipset, "Chipset"))) return kExitUsage;
  if (chipset && *chipset == 0) return c.Usage("CHIPSET is 1 to 10");
  if (!c.Open()) return c.OpenStatus();
  if (chosen) {
    std::optional<pci::Function> f;
    if (!pci::Probe(c, *chosen, &f)) return kExitFailed;
    if (!f) {
      c.Err() << "Error: no PCI function answers at " << pci::Name(*chosen) << "\n";
      return kExitFailed;
    }
    pci::PrintRegFile(c, *f, chipset);
    return kExitOk;
  }
  std::vector<pci::Function> functions;
  if (!pci::Scan(c, &functions)) return kExitFailed;
  if (functions.empty()) {
    c.Err() << "Error: no PCI function answered on buses 0-6\n";
    return kExitFailed;
  }
  c.Out() << "BB:DD.F  VID:DID    class\n";
  for (const pci::Function& f : functions) {
    c.Out() << pci::Name(f.at) << "  " << pci::IdText(f.id) << "  " << pci::ClassText(f.classCode)
            << (f.Smbus() ? "  SMBus controller" : "") << "\n";
  }
  return kExitOk;
}
}  // namespace omzi2c::tool
