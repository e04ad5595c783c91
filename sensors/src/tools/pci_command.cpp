// The PCI listing with the Chipset the table of known controllers suggests,
// and the .reg lines for one function.
#if !defined(_WIN32)
#include <dirent.h>
#endif

#include <cstdio>
#include <fstream>
#include <map>

#include "decode/controllers.h"
#include "tools/command.h"
#include "tools/decode_json.h"
#include "tools/host_function.h"

#ifdef OMZI2C_HAVE_JSON
#include <nlohmann/json.hpp>
#endif

namespace omzi2c::tool {

namespace {

namespace pci {
constexpr uint32_t kAddressPort = 0xCF8;
constexpr uint32_t kDataPort = 0xCFC;
constexpr uint32_t kEnable = 0x80000000;
constexpr unsigned kLastScannedBus = 6;  // the driver's discovery looks on buses 0-6
constexpr unsigned kBuses = 256;
constexpr unsigned kDevices = 32;
constexpr unsigned kFunctions = 8;
constexpr uint32_t kIdIndex = 0;     // vendor ID, device ID
constexpr uint32_t kClassIndex = 2;  // revision, programming interface, subclass, class
constexpr uint32_t kHeaderIndex = 3;
constexpr uint32_t kMultiFunction = 0x00800000;  // header type bit 7
constexpr uint32_t kSmbusClass = 0x0C05;         // serial bus controller, SMBus
constexpr uint16_t kNoVendor = 0xFFFF;
constexpr size_t kHeaderBytes = 16;  // ID, command/status, class, header dwords

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
  uint16_t Vendor() const { return static_cast<uint16_t>(id); }
  uint16_t Device() const { return static_cast<uint16_t>(id >> 16); }
  bool Smbus() const { return classCode >> 16 == kSmbusClass; }
  bool operator==(const Function& o) const {
    return id == o.id && classCode == o.classCode && header == o.header;
  }
};

// Configuration space through the configuration port pair, with the
// driver's raw port requests, so that the listing works wherever the port
// service does (simulated board, real ports, Windows). False after saying
// why the port request failed.
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
  if (f.Vendor() == kNoVendor || f.Vendor() == 0) return true;
  if (!Read(c, at, kClassIndex, &f.classCode) || !Read(c, at, kHeaderIndex, &f.header)) {
    return false;
  }
  *found = f;
  return true;
}

// Every function of every bus. A device without function 0 has none; a
// single-function device may answer at every function number with function
// 0's registers, and such copies are left out.
bool ScanPorts(Command& c, std::vector<Function>* functions) {
  for (unsigned bus = 0; bus < kBuses; ++bus) {
    for (unsigned device = 0; device < kDevices; ++device) {
      std::optional<Function> first;
      if (!Probe(c, {bus, device, 0}, &first)) return false;
      if (!first) continue;
      functions->push_back(*first);
      for (unsigned function = 1; function < kFunctions; ++function) {
        std::optional<Function> f;
        if (!Probe(c, {bus, device, function}, &f)) return false;
        if (!f || (!(first->header & kMultiFunction) && *first == *f)) continue;
        functions->push_back(*f);
      }
    }
  }
  return true;
}

#if !defined(_WIN32)
uint32_t LittleEndian(const unsigned char* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The functions of PCI domain 0 as the kernel lists them under
// <sysfs>/bus/pci/devices: its own configuration accesses and ours through
// the port pair would race. False when that folder cannot be read.
bool ScanSysfs(const std::string& sysfs, std::vector<Function>* functions) {
  const std::string folder = sysfs + "/bus/pci/devices";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  std::map<std::string, Function> sorted;
  while (const dirent* entry = readdir(dir)) {
    unsigned domain = 0, bus = 0, device = 0, function = 0;
    char tail = 0;
    if (std::sscanf(entry->d_name, "%4x:%2x:%2x.%1u%c", &domain, &bus, &device, &function, &tail) !=
            4 ||
        domain != 0) {
      continue;
    }
    std::ifstream config(folder + "/" + entry->d_name + "/config", std::ios::binary);
    unsigned char bytes[kHeaderBytes];
    if (!config.read(reinterpret_cast<char*>(bytes), sizeof bytes)) continue;
    const Function f{{bus, device, function},
                     LittleEndian(bytes + 4 * kIdIndex),
                     LittleEndian(bytes + 4 * kClassIndex),
                     LittleEndian(bytes + 4 * kHeaderIndex)};
    sorted.emplace(entry->d_name, f);
  }
  closedir(dir);
  for (const auto& [name, f] : sorted)
    functions->push_back(f);
  return true;
}
#endif

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

// Vendor and device names from the system's PCI ID list, where there is one.
class IdNames {
 public:
  IdNames() {
    for (const char* path : {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids"}) {
      std::ifstream file(path);
      if (file && Load(file)) return;
    }
  }
  std::optional<std::string> Name(uint32_t id) const {
    const auto device = devices_.find(id);
    if (device == devices_.end()) return std::nullopt;
    const auto vendor = vendors_.find(static_cast<uint16_t>(id));
    return (vendor == vendors_.end() ? "" : vendor->second + " ") + device->second;
  }

 private:
  // Vendor lines are "vvvv  Name", device lines "\tdddd  Name"; lines with
  // two tabs name subsystems, and the class list at the end starts with 'C'.
  bool Load(std::istream& in) {
    std::string line;
    std::optional<uint16_t> vendor;
    while (std::getline(in, line)) {
      unsigned value = 0;
      if (line.empty() || line[0] == '#') continue;
      if (line[0] == 'C' && line.size() > 1 && line[1] == ' ') break;
      if (line[0] != '\t' && std::sscanf(line.c_str(), "%4x", &value) == 1 && line.size() > 6) {
        vendor = static_cast<uint16_t>(value);
        vendors_[*vendor] = line.substr(6);
      } else if (vendor && line.size() > 7 && line[0] == '\t' && line[1] != '\t' &&
                 std::sscanf(line.c_str() + 1, "%4x", &value) == 1) {
        devices_[value << 16 | *vendor] = line.substr(7);
      }
    }
    return !devices_.empty();
  }
  std::map<uint16_t, std::string> vendors_;
  std::map<uint32_t, std::string> devices_;
};

// What the listing says of one function.
struct Verdict {
  const decode::KnownController* known = nullptr;
  std::optional<decode::ChipsetSuggestion> suggestion;
  std::string column;  // the Chipset column
  std::string name;
  std::vector<std::string> remarks;
};

// The verdict on all[index]; the functions before it are those discovery
// meets first.
Verdict Judge(const std::vector<Function>& all, size_t index, const IdNames& names) {
  const Function& f = all[index];
  Verdict v;
  v.known = decode::FindController(f.Vendor(), f.Device());
  const auto systemName = names.Name(f.id);
  v.name = systemName ? *systemName : v.known ? v.known->name : "";
  if (v.known) {
    v.suggestion = decode::Suggest(*v.known);
    v.column = v.suggestion ? decode::SuggestionText(*v.suggestion) : "not served";
    if (!v.suggestion) v.remarks.push_back(v.known->note);
    if (v.known->simulatedOnly) v.remarks.push_back("simulated board only");
  } else if (f.Smbus()) {
    v.column = "unknown";
    v.remarks.push_back("an SMBus controller the table lacks: its Chipset is not known");
  }
  if (!v.known && !f.Smbus()) return v;
  if (f.at.bus > kLastScannedBus) {
    v.remarks.push_back("unreachable: discovery looks on buses 0-6 only");
  }
  for (size_t i = 0; i < index; ++i) {
    const Function& other = all[i];
    if (other.id == f.id && other.at.function == f.at.function && other.at.bus <= kLastScannedBus) {
      v.remarks.push_back("not the one discovery picks: " + Name(other.at) + " has the same IDs");
      break;
    }
  }
  return v;
}

std::string Dword(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "dword:%08x", value);
  return text;
}

void PrintRegFile(Command& c, const Function& f, const std::string& name, uint32_t chipset,
                  std::optional<unsigned> hostFunction) {
  std::ostream& out = c.Out();
  out << "REGEDIT4\n\n"
      << "; PCI " << Name(f.at) << ", " << IdText(f.id) << ", class " << ClassText(f.classCode)
      << (name.empty() ? "" : ", " + name) << "\n"
      << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters]\n"
      << "\"ISAPortDriverEnable\"=" << Dword(1) << "\n"
      << "\"I2CDriverEnable\"=" << Dword(1) << "\n"
      << "\"Chipset\"=" << Dword(chipset) << "\n"
      << "\"VID\"=" << Dword(f.id & 0xFFFF) << "\n"
      << "\"DID\"=" << Dword(f.id >> 16) << "\n"
      << "\"Func\"=" << Dword(f.at.function) << "\n";
  if (hostFunction) out << "\"HostFunction\"=" << Dword(*hostFunction) << "\n";
}

void PrintListing(Command& c, const std::vector<Function>& functions, const IdNames& names) {
  c.Out() << "BB:DD.F  VID:DID    class   Chipset             name\n";
  for (size_t i = 0; i < functions.size(); ++i) {
    const Function& f = functions[i];
    const Verdict v = Judge(functions, i, names);
    std::string line = Name(f.at) + "  " + IdText(f.id) + "  " + ClassText(f.classCode);
    if (!v.column.empty() || !v.name.empty()) {
      std::string column = v.column;
      column.resize(std::max<size_t>(column.size() + 1, 20), ' ');
      line += "  " + column + v.name;
    }
    for (const std::string& remark : v.remarks)
      line += " [" + remark + "]";
    while (!line.empty() && line.back() == ' ')
      line.pop_back();
    c.Out() << line << "\n";
  }
}

#ifdef OMZI2C_HAVE_JSON
void PrintJson(Command& c, const std::vector<Function>& functions, const IdNames& names) {
  nlohmann::json list = nlohmann::json::array();
  for (size_t i = 0; i < functions.size(); ++i) {
    const Function& f = functions[i];
    const Verdict v = Judge(functions, i, names);
    nlohmann::json item = {
        {"location", Name(f.at)},    {"vendor", f.Vendor()},    {"device", f.Device()},
        {"class", f.classCode >> 8}, {"name", v.name},          {"known", v.known != nullptr},
        {"chipset", nullptr},        {"hostFunction", nullptr}, {"remarks", v.remarks}};
    if (v.suggestion) {
      item["chipset"] = v.suggestion->chipset;
      if (v.suggestion->hostFunction) item["hostFunction"] = *v.suggestion->hostFunction;
    }
    list.push_back(item);
  }
  c.Out() << nlohmann::json{{"functions", list}}.dump(2) << "\n";
}
#endif

}  // namespace pci

// The functions, through sysfs on Linux with real ports, else through the
// driver's port requests: nullopt, or the exit status after saying why not.
std::optional<int> ScanFunctions(Command& c, std::vector<pci::Function>* functions) {
#if !defined(_WIN32)
  if (c.Options().board == "ports" && pci::ScanSysfs(c.Options().sysfs, functions)) {
    return std::nullopt;
  }
#endif
  if (!c.Open()) return c.OpenStatus();
  if (!pci::ScanPorts(c, functions)) return kExitFailed;
  return std::nullopt;
}

// The .reg lines for the function at `at`, with the given code or the
// suggested one.
int PciRegFile(Command& c, const pci::Location& at, std::optional<uint32_t> chipset) {
  std::vector<pci::Function> functions;
  std::optional<pci::Function> f;
#if !defined(_WIN32)
  if (c.Options().board == "ports" && pci::ScanSysfs(c.Options().sysfs, &functions)) {
    for (const pci::Function& each : functions) {
      if (each.at.bus == at.bus && each.at.device == at.device && each.at.function == at.function)
        f = each;
    }
  } else
#endif
  {
    if (!c.Open()) return c.OpenStatus();
    if (!pci::Probe(c, at, &f)) return kExitFailed;
  }
  if (!f) {
    c.Err() << "Error: no PCI function answers at " << pci::Name(at) << "\n";
    return kExitFailed;
  }
  const pci::IdNames names;
  const pci::Verdict v = pci::Judge({*f}, 0, names);
  std::optional<unsigned> hostFunction;
  if (!chipset) {
    if (!v.suggestion) {
      c.Err() << "Error: " << pci::IdText(f->id) << " at " << pci::Name(at) << " is "
              << (v.known ? "not served (" + std::string(v.known->note) + ")"
                          : std::string("not a controller the table knows"))
              << ": give CHIPSET to write its lines anyway\n";
      return kExitFailed;
    }
    chipset = v.suggestion->chipset;
    hostFunction = v.suggestion->hostFunction;
  } else if (v.known && HostFunction(*chipset) != v.known->function) {
    hostFunction = v.known->function;  // the host is not where this code looks
  }
  pci::PrintRegFile(c, *f, v.name, *chipset, hostFunction);
  return kExitOk;
}

}  // namespace

int Pci(Command& c) {
  if (c.Count() > 2) return c.Usage("pci takes [BB:DD.F [CHIPSET]]");
  std::optional<pci::Location> chosen;
  if (c.Count() >= 1 && !(chosen = pci::ParseLocation(c.Arg(0)))) {
    return c.Usage("'" + c.Arg(0) + "' is not a PCI function BB:DD.F (hex, as 00:1f.3)");
  }
  if (chosen && chosen->bus > pci::kLastScannedBus) {
    return c.Usage("the driver finds its controller on buses 0-6 only");
  }
  std::optional<uint32_t> chipset;
  if (c.Count() == 2 && !(chipset = c.Number(1, kLastChipset, "Chipset"))) return kExitUsage;
  if (chipset && *chipset == 0) return c.Usage("CHIPSET is 1 to 10");
  if (c.Options().json && (chosen || !JsonAvailable())) {
    return c.Usage(chosen ? "--json lists functions; the .reg lines are text"
                          : "this build has no JSON output");
  }
  if (chosen) return PciRegFile(c, *chosen, chipset);
  std::vector<pci::Function> functions;
  if (const std::optional<int> failed = ScanFunctions(c, &functions)) return *failed;
  if (functions.empty()) {
    c.Err() << "Error: no PCI function answered\n";
    return kExitFailed;
  }
  const pci::IdNames names;
#ifdef OMZI2C_HAVE_JSON
  if (c.Options().json) {
    pci::PrintJson(c, functions, names);
    return kExitOk;
  }
#endif
  pci::PrintListing(c, functions, names);
  return kExitOk;
}
}  // namespace omzi2c::tool
