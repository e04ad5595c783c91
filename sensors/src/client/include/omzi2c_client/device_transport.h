// Transport to the installed Windows driver through its device link. Requests
// are issued with the native device-control call so that the driver's own
// NTSTATUS and transferred length come back unchanged.
#pragma once

#include <memory>
#include <string>

#include "omzi2c_client/client.h"

namespace omzi2c::client {

class DeviceTransport : public Transport {
 public:
  // Opens \\.\OMZI2C for reading and writing; on failure returns null and
  // says why in `error` (only administrators may open it), with the Windows
  // error of the open in `windowsError` when asked.
  static std::unique_ptr<DeviceTransport> Open(std::string* error,
                                               unsigned long* windowsError = nullptr);
  ~DeviceTransport() override;
  // The open device's handle (a HANDLE), for reading the device's own
  // information such as its access list.
  void* Handle() const { return handle_; }
  Response Control(uint32_t code, const std::vector<uint8_t>& input,
                   uint32_t outputLength) override;
  // Reuses the caller's reply buffer: nothing allocated once it has grown.
  void ControlInto(uint32_t code, const uint8_t* input, uint32_t inputLength, uint32_t outputLength,
                   Response* response) override;

 private:
  explicit DeviceTransport(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace omzi2c::client
