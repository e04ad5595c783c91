#include "tools/kernel_driver_check.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "tools/host_function.h"

namespace omzi2c::tool {

namespace {

namespace fs = std::filesystem;

constexpr unsigned kLastBus = 6;  // discovery looks on buses 0-6
constexpr unsigned kFunctionMask = 0x07;
// The ACPI embedded controller's hardware ID, as its devices are named.
const char kEcDevicePrefix[] = "PNP0C09:";

struct PciName {
  unsigned domain, bus, device, function;
};

std::optional<PciName> ParsePciName(const std::string& name) {
  PciName at{};
  char tail = 0;
  if (std::sscanf(name.c_str(), "%4x:%2x:%2x.%1x%c", &at.domain, &at.bus, &at.device, &at.function,
                  &tail) != 4) {
    return std::nullopt;
  }
  return at;
}

std::string Location(const PciName& at) {
  char text[16];
  std::snprintf(text, sizeof text, "%02x:%02x.%x", at.bus, at.device, at.function);
  return text;
}

std::string SysfsName(const PciName& at) {
  char text[24];
  std::snprintf(text, sizeof text, "%04x:%02x:%02x.%x", at.domain, at.bus, at.device, at.function);
  return text;
}

// A sysfs attribute holding a hex number ("0x8086").
std::optional<unsigned long> HexAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  if (!(in >> text)) return std::nullopt;
  try {
    return std::stoul(text, nullptr, 16);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The device discovery finds: the first function numbered `function` (cut
// to 3 bits) with the IDs, lowest bus, then lowest device, on buses 0-6.
std::optional<PciName> FindDevice(const fs::path& devices, const ConfiguredHost& host) {
  std::optional<PciName> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(devices, error)) {
    const auto at = ParsePciName(entry.path().filename().string());
    if (!at || at->domain != 0 || at->bus > kLastBus ||
        at->function != (host.function & kFunctionMask)) {
      continue;
    }
    if (HexAttribute(entry.path() / "vendor") != host.vendorId ||
        HexAttribute(entry.path() / "device") != host.deviceId) {
      continue;
    }
    if (!found || at->bus < found->bus || (at->bus == found->bus && at->device < found->device)) {
      found = at;
    }
  }
  return found;
}

// The I2C adapter a driver registered below the device ("i2c-0"), if any.
std::optional<std::string> AdapterBelow(const fs::path& device) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(device, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("i2c-", 0) == 0) return name;
  }
  return std::nullopt;
}

std::optional<std::string> PciHostConflict(const std::string& sysfs, const ConfiguredHost& host,
                                           unsigned hostFunction) {
  const fs::path devices = fs::path(sysfs) / "bus/pci/devices";
  std::optional<PciName> at = FindDevice(devices, host);
  if (!at) return std::nullopt;  // discovery will not find it either
  at->function = hostFunction;
  const fs::path device = devices / SysfsName(*at);
  std::error_code error;
  const fs::path driver = fs::read_symlink(device / "driver", error);
  if (error) return std::nullopt;
  const std::optional<std::string> adapter = AdapterBelow(device);
  if (!adapter) return std::nullopt;
  const std::string name = driver.filename().string();
  return "the kernel's driver " + name + " drives the SMBus host at PCI " + Location(*at) +
         " (adapter " + *adapter +
         "): its transactions and this tool's would corrupt each other.\n"
         "Unbind it first: echo " +
         SysfsName(*at) + " > " + (fs::path(sysfs) / "bus/pci/drivers" / name / "unbind").string() +
         "\n(bind it again the same way, with 'bind'), or give -f (--force) if you are sure it "
         "is idle.";
}

std::optional<std::string> EmbeddedControllerConflict(const std::string& sysfs) {
  const fs::path driver = fs::path(sysfs) / "bus/acpi/drivers/ec";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(driver, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kEcDevicePrefix, 0) != 0) continue;
    return "the kernel's ACPI embedded-controller driver (ec) has " + name +
           " bound: it talks to the embedded controller this host is reached through, and the\n"
           "two would corrupt each other's transactions. Unbind it first: echo " +
           name + " > " + (driver / "unbind").string() +
           "\nor give -f (--force) if you are sure it is idle.";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> KernelDriverConflict(const std::string& sysfs,
                                                const ConfiguredHost& host) {
  if (host.chipset == kEmbeddedControllerChipset) return EmbeddedControllerConflict(sysfs);
  const std::optional<unsigned> function = HostFunction(host.chipset);
  if (!function) return std::nullopt;  // no host: the driver does not start
  return PciHostConflict(sysfs, host, host.hostFunction.value_or(*function));
}

}  // namespace omzi2c::tool
