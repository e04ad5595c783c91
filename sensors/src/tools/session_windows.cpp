// Sessions on Windows: the tool talks to the installed driver.
#include <windows.h>

#include <ostream>
#include <string>

#include "omzi2c_client/device_transport.h"
#include "tools/cli.h"
#include "tools/format.h"
#include "tools/host_function.h"
#include "tools/session.h"

namespace omzi2c::tool {

namespace {

const char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters";
const char* const kParameterNames[] = {
    "ISAPortDriverEnable", "I2CDriverEnable", "Chipset", "VID", "DID", "Func"};

class DeviceSession : public Session {
 public:
  explicit DeviceSession(std::unique_ptr<client::DeviceTransport> transport)
      : transport_(std::move(transport)), client_(*transport_) {}

  client::Client& Client() override { return client_; }
  bool RealHardware() const override { return true; }

  std::string HostDescription() const override {
    DWORD chipset = 0;
    if (!ReadParameter("Chipset", &chipset)) return "the installed driver's SMBus host";
    return "the installed driver's SMBus host (Chipset " + std::to_string(chipset) + ")";
  }

  std::vector<std::string> Info() const override {
    std::vector<std::string> lines = {"driver: \\\\.\\OMZI2C (installed driver)"};
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
      lines.push_back("parameters: cannot read HKLM\\" + std::string(kParametersKey));
      return lines;
    }
    for (const char* name : kParameterNames) {
      DWORD value = 0, size = sizeof value, type = 0;
      const bool present =
          RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
              ERROR_SUCCESS &&
          type == REG_DWORD;
      lines.push_back(std::string("parameter ") + name + ": " +
                      (present ? Hex8(value) : std::string("(absent)")));
    }
    RegCloseKey(key);
    DWORD chipset = 0;
    const auto function = ReadParameter("Chipset", &chipset) ? HostFunction(chipset) : std::nullopt;
    if (function) {
      lines.push_back("host: function " + std::to_string(*function) +
                      " of the PCI device VID, DID and Func locate");
    }
    return lines;
  }

 private:
  static bool ReadParameter(const char* name, DWORD* value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    DWORD size = sizeof *value, type = 0;
    const bool present = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value),
                                          &size) == ERROR_SUCCESS &&
                         type == REG_DWORD;
    RegCloseKey(key);
    return present;
  }

  std::unique_ptr<client::DeviceTransport> transport_;
  client::Client client_;
};

}  // namespace

std::unique_ptr<Session> OpenSession(const GlobalOptions& options, std::ostream&,
                                     std::string* error, int* exitStatus) {
  if (options.board != "sim" || !options.config.empty() || !options.state.empty() ||
      options.chipset || options.vid || options.did || options.func || options.portService ||
      options.smbService || !options.faults.empty() || options.trace) {
    *error =
        "board, parameter, state, fault and trace options need the Linux build; on Windows the "
        "installed driver's parameters apply";
    *exitStatus = kExitUsage;
    return nullptr;
  }
  auto transport = client::DeviceTransport::Open(error);
  if (!transport) {
    *exitStatus = kExitFailed;
    return nullptr;
  }
  return std::make_unique<DeviceSession>(std::move(transport));
}

std::vector<std::string> DescribeFaults(std::optional<uint32_t>) {
  return {"(faults exist only on the simulated board of the Linux build)"};
}

}  // namespace omzi2c::tool
