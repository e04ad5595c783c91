// The driver's life cycle. Start-up reads six REG_DWORD values from the
// service key's Parameters subkey (and the optional HostFunction); when the
// SMBus service is on it opens the bus event that every component driving this
// SMBus shares and, holding it, finds and enables the SMBus host; then it
// creates the device and its link. Nothing is re-read afterwards.
#include "driver_entry.h"

#include <omzi2c/omzi2c.h>

#include "access_lists.h"
#include "controller_state.h"
#include "device_extension.h"
#include "discovery/discovery.h"
#include "requests.h"

namespace {

const WCHAR kParametersSuffix[] = L"\\Parameters";

// Values and their defaults.
const WCHAR kPortEnableName[] = L"ISAPortDriverEnable";
const WCHAR kSmbEnableName[] = L"I2CDriverEnable";
const WCHAR kChipsetName[] = L"Chipset";
const WCHAR kVendorName[] = L"VID";
const WCHAR kDeviceName[] = L"DID";
const WCHAR kFunctionName[] = L"Func";
const WCHAR kHostFunctionName[] = L"HostFunction";  // optional, no default
constexpr ULONG kDefaultEnable = 0;
constexpr ULONG kDefaultChipset = 11;
constexpr ULONG kDefaultId = 0;
constexpr ULONG kDefaultFunction = 0xFFFF;

constexpr LONG kChipsetLimit = 11;  // codes from here on are not configurable
constexpr USHORT kNoFunction = 0xFFFF;
constexpr ULONG kLastFunction = 7;

// A bus event that cannot be opened or created, or one of that name that is
// no synchronization event, ends start-up with this status.
constexpr NTSTATUS kEventFailure = STATUS_MUTANT_NOT_OWNED;

// Query routine of QueryParameter: stores a value only when it is a
// four-byte REG_DWORD; a value of any other type or length counts as absent,
// so the preset default stays.
NTSTATUS NTAPI StoreDwordValue(PWSTR, ULONG valueType, PVOID valueData, ULONG valueLength, PVOID,
                               PVOID entryContext) {
  if (valueType == REG_DWORD && valueLength == sizeof(ULONG)) {
    RtlCopyMemory(entryContext, valueData, sizeof(ULONG));
  }
  return STATUS_SUCCESS;
}

ULONG QueryDword(PUNICODE_STRING servicePath, PCWSTR name, ULONG defaultValue) {
  return QueryParameter(servicePath, kParametersSuffix, name, REG_DWORD, sizeof(ULONG),
                        defaultValue);
}

ULONG CountCharacters(PCWSTR text) {
  ULONG count = 0;
  while (text[count] != 0)
    ++count;
  return count;
}

// A value with no default: whether it is there, and of which type.
struct OptionalValue {
  bool Present;
  bool Dword;  // a four-byte REG_DWORD
  ULONG Value;
};

NTSTATUS NTAPI StoreOptionalValue(PWSTR, ULONG valueType, PVOID valueData, ULONG valueLength, PVOID,
                                  PVOID entryContext) {
  // Some registry implementations report a missing value without a
  // default as a call with type REG_NONE.
  if (valueType == REG_NONE) return STATUS_SUCCESS;
  OptionalValue* value = static_cast<OptionalValue*>(entryContext);
  value->Present = true;
  value->Dword = valueType == REG_DWORD && valueLength == sizeof(ULONG);
  if (value->Dword) RtlCopyMemory(&value->Value, valueData, sizeof(ULONG));
  return STATUS_SUCCESS;
}

// The service key path followed by the Parameters suffix, from paged pool;
// null when the pool has none. The caller frees it.
PWSTR ParametersPath(PUNICODE_STRING servicePath, PCWSTR suffix) {
  // The service key path, the suffix with its terminator, one spare
  // character. Counted in 32 bits: a 16-bit sum could wrap for a long path
  // and give a buffer shorter than what is copied into it.
  const ULONG suffixCharacters = CountCharacters(suffix);
  const ULONG pathCharacters = servicePath->Length / sizeof(WCHAR);
  const ULONG size = servicePath->Length + (suffixCharacters + 2) * sizeof(WCHAR);
  PWSTR path = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, size, kPathBufferTag));
  if (path == nullptr) return nullptr;
  RtlZeroMemory(path, size);
  for (ULONG i = 0; i < pathCharacters; ++i)
    path[i] = servicePath->Buffer[i];
  for (ULONG i = 0; i <= suffixCharacters; ++i)
    path[pathCharacters + i] = suffix[i];
  return path;
}

// Reads HostFunction, which has no default: absent, discovery keeps each
// Chipset's own function. False when it is there but not a REG_DWORD of 0
// to 7, or cannot be read.
bool ReadHostFunction(PUNICODE_STRING servicePath) {
  PWSTR path = ParametersPath(servicePath, kParametersSuffix);
  if (path == nullptr) return false;
  OptionalValue value = {false, false, 0};
  RTL_QUERY_REGISTRY_TABLE table[2];
  RtlZeroMemory(table, sizeof(table));
  table[0].QueryRoutine = StoreOptionalValue;
  table[0].Flags = RTL_QUERY_REGISTRY_NOEXPAND;
  table[0].Name = const_cast<PWSTR>(kHostFunctionName);
  table[0].EntryContext = &value;
  table[0].DefaultType = REG_NONE;
  const NTSTATUS status = RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL,
                                                 path, table, nullptr, nullptr);
  ExFreePool(path);
  // A value that is not there may fail the query: only a value the query
  // routine saw counts.
  if (!value.Present) return true;
  if (!NT_SUCCESS(status)) return false;
  if (!value.Dword || value.Value > kLastFunction) return false;
  Controller.HostFunctionSet = TRUE;
  Controller.HostFunction = static_cast<UCHAR>(value.Value);
  return true;
}

// Reads the controller's configuration; false when it cannot name one.
bool ReadControllerConfig(PUNICODE_STRING servicePath) {
  Controller.Chipset = static_cast<LONG>(QueryDword(servicePath, kChipsetName, kDefaultChipset));
  Controller.VID = static_cast<USHORT>(QueryDword(servicePath, kVendorName, kDefaultId));
  Controller.DID = static_cast<USHORT>(QueryDword(servicePath, kDeviceName, kDefaultId));
  Controller.Func = static_cast<USHORT>(QueryDword(servicePath, kFunctionName, kDefaultFunction));
  return Controller.Chipset < kChipsetLimit && Controller.VID != 0 && Controller.DID != 0 &&
         Controller.Func != kNoFunction && ReadHostFunction(servicePath);
}

// Opens the bus event, creating it when no other component has, and makes
// sure it gives mutual exclusion: a notification event of that name, which
// lets every waiter through at once, is refused and its handle closed.
NTSTATUS OpenBusEvent(PKEVENT* event, PHANDLE handle) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, OMZI2C_BUS_EVENT_NAME);
  HANDLE opened = nullptr;
  if (!NT_SUCCESS(OpenOrCreateBusEvent(&name, &opened))) return kEventFailure;
  PVOID object = nullptr;
  // No object type to check against: the creation above opens nothing but
  // an event (another object of the name fails it with a type mismatch).
  const NTSTATUS status = ObReferenceObjectByHandle(opened, SYNCHRONIZE | EVENT_MODIFY_STATE,
                                                    nullptr, KernelMode, &object, nullptr);
  bool synchronization = false;
  if (NT_SUCCESS(status)) {
    // An event object starts with its dispatcher header, which holds its kind.
    synchronization = static_cast<PDISPATCHER_HEADER>(object)->Type == SynchronizationEvent;
    ObDereferenceObject(object);  // the handle keeps the event
  }
  if (!synchronization) {
    ZwClose(opened);
    return kEventFailure;
  }
  *event = static_cast<PKEVENT>(object);
  *handle = opened;
  return STATUS_SUCCESS;
}

// Discovery writes PCI configuration and clears the host's status, so it
// runs holding the bus, as a request does: a transaction another component
// is running is never disturbed. A holder that keeps the bus past the
// requests' bound fails the start.
NTSTATUS DiscoverHoldingBus(PKEVENT event) {
  LARGE_INTEGER timeout;
  timeout.QuadPart = -kBusWaitLimit;  // relative
  if (KeWaitForSingleObject(event, Executive, KernelMode, FALSE, &timeout) != STATUS_SUCCESS) {
    return STATUS_IO_TIMEOUT;
  }
  const bool found = DiscoverController();
  KeSetEvent(event, IO_NO_INCREMENT, FALSE);
  return found ? STATUS_SUCCESS : STATUS_NO_SUCH_DEVICE;
}

// Device and link, keeping the bus event (null without SMBus service) in the
// extension; on failure whatever was created is deleted and the event
// closed. The device is protected before the link makes it reachable;
// secure open extends its access list to names opened below the device.
NTSTATUS CreateDevice(PDRIVER_OBJECT driver, PKEVENT busEvent, HANDLE busEventHandle) {
  UNICODE_STRING deviceName;
  RtlInitUnicodeString(&deviceName, OMZI2C_DEVICE_NAME);
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoCreateDevice(driver, sizeof(DeviceExtension), &deviceName,
                                   omzi2c::kDeviceType, FILE_DEVICE_SECURE_OPEN, FALSE, &device);
  if (NT_SUCCESS(status)) {
    status = ProtectDevice(device);
    if (!NT_SUCCESS(status)) IoDeleteDevice(device);
  }
  UNICODE_STRING linkName;
  RtlInitUnicodeString(&linkName, OMZI2C_LINK_NAME);
  if (NT_SUCCESS(status)) {
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) IoDeleteDevice(device);
  }
  if (!NT_SUCCESS(status)) {
    if (busEventHandle != nullptr) ZwClose(busEventHandle);
    return status;
  }

  DeviceExtension* extension = static_cast<DeviceExtension*>(device->DeviceExtension);
  RtlZeroMemory(extension, sizeof(DeviceExtension));
  extension->BusEvent = busEvent;
  extension->BusEventHandle = busEventHandle;
  extension->Device = device;
  extension->DeviceType = omzi2c::kDeviceType;
  return status;
}

}  // namespace

ULONG QueryParameter(PUNICODE_STRING servicePath, PCWSTR suffix, PCWSTR valueName,
                     ULONG defaultType, ULONG defaultLength, ULONG defaultValue) {
  PWSTR path = ParametersPath(servicePath, suffix);
  if (path == nullptr) return defaultValue;

  // Preset: a missing optional key is no failure but writes nothing. The
  // value goes through StoreDwordValue rather than a direct query, which
  // would write a string descriptor or more than four bytes into `result`
  // for a value of another type.
  ULONG result = defaultValue;
  ULONG defaultData = defaultValue;
  RTL_QUERY_REGISTRY_TABLE table[2];
  RtlZeroMemory(table, sizeof(table));
  table[0].QueryRoutine = StoreDwordValue;
  table[0].Flags = RTL_QUERY_REGISTRY_NOEXPAND;
  table[0].Name = valueName;
  table[0].EntryContext = &result;
  table[0].DefaultType = defaultType;
  table[0].DefaultData = &defaultData;
  table[0].DefaultLength = defaultLength;
  const NTSTATUS status = RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL,
                                                 path, table, nullptr, nullptr);
  if (!NT_SUCCESS(status)) result = defaultValue;
  ExFreePool(path);
  return result;
}

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  // A fresh image starts zeroed; a host that starts the same image again
  // (the user-space build) must not see the last start's values.
  RtlZeroMemory(&Controller, sizeof(Controller));
  Controller.ISAPortDriverEnable =
      static_cast<UCHAR>(QueryDword(registryPath, kPortEnableName, kDefaultEnable));
  Controller.I2CDriverEnable =
      static_cast<UCHAR>(QueryDword(registryPath, kSmbEnableName, kDefaultEnable));
  if (Controller.ISAPortDriverEnable == 0 && Controller.I2CDriverEnable == 0) {
    return STATUS_UNSUCCESSFUL;
  }
  PKEVENT busEvent = nullptr;
  HANDLE busEventHandle = nullptr;
  if (Controller.I2CDriverEnable != 0) {
    if (!ReadControllerConfig(registryPath)) return STATUS_REGISTRY_CORRUPT;
    NTSTATUS status = OpenBusEvent(&busEvent, &busEventHandle);
    if (!NT_SUCCESS(status)) return status;
    status = DiscoverHoldingBus(busEvent);
    if (!NT_SUCCESS(status)) {
      ZwClose(busEventHandle);
      return status;
    }
  }
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchRequest;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchRequest;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchRequest;
  driver->DriverUnload = DriverUnload;
  return CreateDevice(driver, busEvent, busEventHandle);
}

VOID NTAPI DriverUnload(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT device = driver->DeviceObject;
  DeviceExtension* extension = static_cast<DeviceExtension*>(device->DeviceExtension);
  // Without SMBus service start-up opened no event: there is nothing to
  // close, and closing an invalid handle stops a machine under verification.
  if (extension->BusEventHandle != nullptr) ZwClose(extension->BusEventHandle);
  UNICODE_STRING linkName;
  RtlInitUnicodeString(&linkName, OMZI2C_LINK_NAME);
  IoDeleteSymbolicLink(&linkName);
  IoDeleteDevice(device);
}
