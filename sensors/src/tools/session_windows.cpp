// Sessions on Windows: the tool talks to the installed driver.
#include <windows.h>
#include <sddl.h>
#include <winternl.h>

#include <omzi2c/omzi2c.h>

#include <cwchar>
#include <ostream>
#include <string>
#include <vector>

#include "omzi2c_client/device_transport.h"
#include "omzi2c_client/windows_mutex_hold.h"
#include "tools/cli.h"
#include "tools/format.h"
#include "tools/host_function.h"
#include "tools/session.h"

namespace omzi2c::tool {

namespace {

const char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters";
const char* const kParameterNames[] = {
    "ISAPortDriverEnable", "I2CDriverEnable", "Chipset", "VID", "DID", "Func", "HostFunction"};

constexpr LONG kObjectNameNotFound = static_cast<LONG>(0xC0000034);

typedef LONG(NTAPI* NtOpenEventRoutine)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);

// The access list of the object behind `handle` in string form (the handle
// needs READ_CONTROL), or why it cannot be read.
std::string AccessListOf(HANDLE handle) {
  DWORD needed = 0;
  GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  std::vector<BYTE> descriptor(needed);
  LPSTR text = nullptr;
  if (needed == 0 ||
      !GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, descriptor.data(), needed,
                               &needed) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return "cannot read it (Windows error " + std::to_string(GetLastError()) + ")";
  }
  const std::string list(text);
  LocalFree(text);
  return list;
}

// The bus event's access list, read through a handle of its own: none when
// no component holds the event (the driver does whenever SMBus service is on).
std::string BusEventAccessList() {
  const auto open = reinterpret_cast<NtOpenEventRoutine>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtOpenEvent")));
  if (open == nullptr) return "cannot read it (NtOpenEvent is not available)";
  UNICODE_STRING name;
  name.Buffer = const_cast<PWSTR>(OMZI2C_BUS_EVENT_NAME);
  name.Length = static_cast<USHORT>(std::wcslen(OMZI2C_BUS_EVENT_NAME) * sizeof(WCHAR));
  name.MaximumLength = name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  HANDLE event = nullptr;
  const LONG status = open(&event, READ_CONTROL, &attributes);
  if (status == kObjectNameNotFound) return "none (no SMBus service)";
  if (status < 0) return "cannot read it (" + Hex8(static_cast<uint32_t>(status)) + ")";
  const std::string list = AccessListOf(event);
  CloseHandle(event);
  return list;
}

// SMBus requests run under the mutex other monitoring tools share, so that
// none of their transactions comes between this tool's.
class DeviceSession : public Session {
 public:
  DeviceSession(std::unique_ptr<client::DeviceTransport> transport,
                std::unique_ptr<client::SharedHold> hold)
      : transport_(std::move(transport)),
        holding_(*transport_, std::move(hold)),
        client_(holding_) {}

  client::Client& Client() override { return client_; }
  client::HoldingTransport& Holding() override { return holding_; }
  bool RealHardware() const override { return true; }

  std::string HostDescription() const override {
    DWORD chipset = 0;
    if (!ReadParameter("Chipset", &chipset)) return "the installed driver's SMBus host";
    return "the installed driver's SMBus host (Chipset " + std::to_string(chipset) + ")";
  }

  std::vector<std::string> Info() const override {
    std::vector<std::string> lines = {
        "driver: \\\\.\\OMZI2C (installed driver)",
        "access to \\Device\\OMZI2C: " + AccessListOf(static_cast<HANDLE>(transport_->Handle())),
        "access to \\QRAI2CDriverEvent: " + BusEventAccessList()};
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
    DWORD chipset = 0, hostFunction = 0;
    auto function = ReadParameter("Chipset", &chipset) ? HostFunction(chipset) : std::nullopt;
    if (function && ReadParameter("HostFunction", &hostFunction)) function = hostFunction;
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
  client::HoldingTransport holding_;
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
  auto hold = client::MakeSharedMutexHold(error);
  if (!hold) {
    *exitStatus = kExitFailed;
    return nullptr;
  }
  return std::make_unique<DeviceSession>(std::move(transport), std::move(hold));
}

std::vector<std::string> DescribeFaults(std::optional<uint32_t>) {
  return {"(faults exist only on the simulated board of the Linux build)"};
}

}  // namespace omzi2c::tool
