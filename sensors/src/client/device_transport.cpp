#include "omzi2c_client/device_transport.h"

#include <windows.h>
#include <winternl.h>

#include <omzi2c/omzi2c.h>

namespace omzi2c::client {

namespace {

typedef LONG(NTAPI* NtDeviceIoControlFileRoutine)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK,
                                                  ULONG, PVOID, ULONG, PVOID, ULONG);

NtDeviceIoControlFileRoutine NativeDeviceIoControl() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<NtDeviceIoControlFileRoutine>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDeviceIoControlFile")));
}

HANDLE OpenDevice(DWORD access) {
  return CreateFileA(OMZI2C_USER_PATH, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// Only SYSTEM and Administrators may open the device, for anything: any
// request, a read included, needs an elevated administrator.
std::unique_ptr<DeviceTransport> DeviceTransport::Open(std::string* error,
                                                       unsigned long* windowsError) {
  const HANDLE handle = OpenDevice(GENERIC_READ | GENERIC_WRITE);
  if (windowsError != nullptr) *windowsError = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    *error = "cannot open " OMZI2C_USER_PATH
             ": access denied; only administrators may use the driver, so run omzi2c elevated "
             "(Run as administrator) or as a service";
    return nullptr;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    *error = "cannot open " OMZI2C_USER_PATH " (Windows error " + std::to_string(GetLastError()) +
             "): is the driver installed and started?";
    return nullptr;
  }
  if (NativeDeviceIoControl() == nullptr) {
    CloseHandle(handle);
    *error = "NtDeviceIoControlFile is not available";
    return nullptr;
  }
  return std::unique_ptr<DeviceTransport>(new DeviceTransport(handle));
}

DeviceTransport::~DeviceTransport() {
  CloseHandle(static_cast<HANDLE>(handle_));
}

Response DeviceTransport::Control(uint32_t code, const std::vector<uint8_t>& input,
                                  uint32_t outputLength) {
  Response response;
  ControlInto(code, input.data(), static_cast<uint32_t>(input.size()), outputLength, &response);
  return response;
}

void DeviceTransport::ControlInto(uint32_t code, const uint8_t* input, uint32_t inputLength,
                                  uint32_t outputLength, Response* response) {
  static const NtDeviceIoControlFileRoutine control = NativeDeviceIoControl();
  response->reply.resize(outputLength);
  response->errorReply.clear();
  IO_STATUS_BLOCK status = {};
  // The call takes a non-const input buffer; a buffered request only reads it.
  const LONG result =
      control(static_cast<HANDLE>(handle_), nullptr, nullptr, nullptr, &status, code,
              inputLength == 0 ? nullptr : const_cast<uint8_t*>(input), inputLength,
              outputLength == 0 ? nullptr : response->reply.data(), outputLength);
  response->status = static_cast<uint32_t>(result);
  // Error statuses copy nothing back; the status block is not meaningful then.
  const bool error = (response->status >> 30) == 3;
  response->transferred = error ? 0 : static_cast<uint32_t>(status.Information);
  if (response->transferred > outputLength) response->transferred = outputLength;
  response->reply.resize(response->transferred);
}

}  // namespace omzi2c::client
