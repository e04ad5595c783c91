// Loading a driver in user space the way the service control manager does on
// Windows: its parameters come from a Windows registration file (.reg), so
// one file configures both platforms.
//
//   REGEDIT4
//   [HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\omzi2c\Parameters]
//   "I2CDriverEnable"=dword:00000001
//
// The keys are created in the stand-in's registry, the driver entry is called
// with the service key path, and the driver is unloaded (and its keys
// removed) when the LoadedDriver goes away.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ntemu/nt.h"
#include "ntemu/registry.h"

namespace ntemu {

struct RegFileKey {
  std::string path;  // registry path, "\Registry\Machine\..."
  std::vector<std::pair<std::string, RegistryValue>> values;
};

// Parses the text of a .reg file (REGEDIT4, or version 5.00 in UTF-16LE or
// UTF-8). Understands key sections, comments, and dword and string values;
// anything else throws std::invalid_argument naming the line.
std::vector<RegFileKey> ParseRegFile(const std::string& bytes);
// Reads a file whole; throws std::runtime_error when it cannot.
std::string ReadFileBytes(const std::string& path);
// The service key "...\Services\<name>" of the first "...\Services\<name>\Parameters"
// key in the file; throws std::invalid_argument when there is none.
std::string ServiceKeyOf(const std::vector<RegFileKey>& keys);

class LoadedDriver {
 public:
  LoadedDriver(PDRIVER_INITIALIZE entry, const std::vector<RegFileKey>& keys);
  ~LoadedDriver();
  LoadedDriver(const LoadedDriver&) = delete;
  LoadedDriver& operator=(const LoadedDriver&) = delete;

  NTSTATUS Status() const { return status_; }
  bool Loaded() const { return NT_SUCCESS(status_); }
  PDRIVER_OBJECT Driver() { return &driver_; }
  PDEVICE_OBJECT Device() { return driver_.DeviceObject; }
  const std::string& ServiceKey() const { return serviceKey_; }
  // Calls the driver's unload routine now (once; the destructor then does not).
  void Unload();

 private:
  std::string serviceKey_;
  std::wstring servicePath_;
  UNICODE_STRING registryPath_{};
  DRIVER_OBJECT driver_{};
  NTSTATUS status_ = STATUS_UNSUCCESSFUL;
  bool unloaded_ = false;
};

}  // namespace ntemu
