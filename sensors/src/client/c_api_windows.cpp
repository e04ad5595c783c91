// The C interface on Windows: requests to the installed driver, SMBus
// requests under the mutex other monitoring tools share.
#include <windows.h>

#include "c_api_backend.h"
#include "omzi2c_client/device_transport.h"
#include "omzi2c_client/windows_mutex_hold.h"

namespace omzi2c::client {

namespace {

const char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters";
constexpr DWORD kEnableMask = 0xFF;  // the low byte of a service value counts

DWORD Parameter(HKEY key, const char* name) {
  DWORD value = 0, size = sizeof value, type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return 0;
  }
  return value;
}

class DeviceBackend : public Backend {
 public:
  DeviceBackend(std::unique_ptr<DeviceTransport> device, std::unique_ptr<SharedHold> hold)
      : device_(std::move(device)), holding_(*device_, std::move(hold)), client_(holding_) {}

  Client& Requests() override { return client_; }
  HoldingTransport& Holding() override { return holding_; }
  // The parameters the driver read at its start (unless changed since); the
  // driver does not report the host's base.
  void Info(int32_t* chipset, uint32_t* base, uint32_t* services) override {
    *base = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return;
    }
    *chipset = static_cast<int32_t>(Parameter(key, "Chipset"));
    *services =
        ((Parameter(key, "ISAPortDriverEnable") & kEnableMask) ? OMZI2C_SERVICE_PORTS : 0u) |
        ((Parameter(key, "I2CDriverEnable") & kEnableMask) ? OMZI2C_SERVICE_SMBUS : 0u);
    RegCloseKey(key);
  }

 private:
  std::unique_ptr<DeviceTransport> device_;
  HoldingTransport holding_;
  Client client_;
};

}  // namespace

omzi2c_status OpenBackend(const char* options, uint32_t flags, std::unique_ptr<Backend>* backend,
                          std::string* message) {
  if (options != nullptr && options[0] != '\0') {
    *message =
        "options are for the Linux build; on Windows the installed driver's parameters apply";
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  unsigned long windowsError = 0;
  auto device = DeviceTransport::Open(message, &windowsError);
  if (!device) {
    return windowsError == ERROR_ACCESS_DENIED ? OMZI2C_ERROR_ACCESS_DENIED
                                               : OMZI2C_ERROR_NOT_PRESENT;
  }
  std::unique_ptr<SharedHold> hold;
  if ((flags & OMZI2C_OPEN_NO_SHARED_HOLD) == 0) {
    hold = MakeSharedMutexHold(message);
    if (!hold) return OMZI2C_ERROR_ACCESS_DENIED;
  }
  *backend = std::make_unique<DeviceBackend>(std::move(device), std::move(hold));
  return OMZI2C_OK;
}

}  // namespace omzi2c::client
