// Devices, symbolic links, named synchronization events and handles of the
// stand-in's object manager.
#include "ntemu/objects.h"

#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "ntemu/event.h"
#include "ntemu/registry.h"

namespace ntemu {

namespace {

struct Device {
  DEVICE_OBJECT object{};
  std::vector<uint8_t> extension;
  std::string name;  // folded; empty for an unnamed device
  ULONG characteristics = 0;
  ObjectSecurity security;
};

struct NamedEvent {
  std::unique_ptr<KEVENT> event;
  size_t handles = 0;
  ObjectSecurity security;
};

struct Objects {
  std::mutex mutex;
  std::map<PDEVICE_OBJECT, std::unique_ptr<Device>> devices;
  std::map<std::string, PDEVICE_OBJECT> deviceNames;
  std::map<std::string, std::string> links;  // folded link name -> target
  std::map<std::string, NamedEvent> events;
  std::map<uintptr_t, std::string> handles;  // handle -> folded event name
  std::map<uintptr_t, PDEVICE_OBJECT> deviceHandles;
  uintptr_t nextHandle = 4;
  NTSTATUS deviceFault = STATUS_SUCCESS;
  NTSTATUS linkFault = STATUS_SUCCESS;
  bool eventFault = false;
  NTSTATUS openFault = STATUS_SUCCESS;
  NTSTATUS securityFault = STATUS_SUCCESS;
  NTSTATUS eventSecurityFault = STATUS_SUCCESS;
  bool systemWideEvents = false;
  std::string systemWideError;  // why the last named event could not be shared
  size_t invalidCloses = 0;
  size_t references = 0;  // taken by ObReferenceObjectByHandle, not yet given back
};

Objects& TheObjects() {
  static Objects objects;
  return objects;
}

std::string Folded(const std::string& text) {
  std::string folded = text;
  for (char& c : folded)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

std::string NameOf(PUNICODE_STRING name) {
  return Folded(Narrow(name->Buffer, name->Length / sizeof(WCHAR)));
}

// Takes a pending fault of one kind, leaving none behind.
template <typename T>
T Take(T& fault) {
  const T taken = fault;
  fault = T{};
  return taken;
}

const Device* DeviceNamed(Objects& objects, const std::string& name) {
  const auto found = objects.deviceNames.find(Folded(name));
  if (found == objects.deviceNames.end()) return nullptr;
  return objects.devices.at(found->second).get();
}

uintptr_t NewHandle(Objects& objects) {
  const uintptr_t handle = objects.nextHandle;
  objects.nextHandle += 4;
  return handle;
}

std::string SidText(const UCHAR* sid) {
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i)
    authority = authority << 8 | sid[i];
  std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
  for (UCHAR i = 0; i < sid[1]; ++i) {
    ULONG part;
    std::memcpy(&part, sid + 8 + 4 * i, sizeof part);
    text += "-" + std::to_string(part);
  }
  return text;
}

// The allowed entries of an absolute descriptor's access list; false when
// the descriptor or the list is malformed.
bool ReadDacl(const SECURITY_DESCRIPTOR& descriptor, std::vector<AllowedAce>* dacl) {
  if (descriptor.Revision != SECURITY_DESCRIPTOR_REVISION) return false;
  if ((descriptor.Control & SE_DACL_PRESENT) == 0 || descriptor.Dacl == nullptr) return false;
  const auto* bytes = reinterpret_cast<const UCHAR*>(descriptor.Dacl);
  ULONG at = sizeof(ACL);
  for (USHORT i = 0; i < descriptor.Dacl->AceCount; ++i) {
    ACE_HEADER header;
    std::memcpy(&header, bytes + at, sizeof header);
    if (header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        at + header.AceSize > descriptor.Dacl->AclSize) {
      return false;
    }
    ACCESS_MASK mask;
    std::memcpy(&mask, bytes + at + sizeof header, sizeof mask);
    dacl->push_back({SidText(bytes + at + sizeof header + sizeof mask), mask});
    at += header.AceSize;
  }
  return true;
}

// Makes the event `name` (none of that name exists); false when it could not
// be shared system-wide as asked, with the reason kept.
bool CreateNamedEvent(Objects& objects, const std::string& name, EVENT_TYPE type, bool signalled,
                      const ObjectSecurity& security) {
  NamedEvent& named = objects.events[name];
  named.event = std::make_unique<KEVENT>();
  InitializeEvent(*named.event, type, signalled);
  named.security = security;
  objects.systemWideError.clear();
  if (objects.systemWideEvents &&
      !AttachSystemWideLock(*named.event, name, &objects.systemWideError)) {
    objects.events.erase(name);
    return false;
  }
  return true;
}

// A new handle to the existing event `name`.
HANDLE OpenNamedEvent(Objects& objects, const std::string& name) {
  ++objects.events.at(name).handles;
  const uintptr_t handle = NewHandle(objects);
  objects.handles[handle] = name;
  return reinterpret_cast<HANDLE>(handle);
}

void Unchain(PDEVICE_OBJECT device) {
  PDRIVER_OBJECT driver = device->DriverObject;
  if (driver == nullptr) return;
  for (PDEVICE_OBJECT* link = &driver->DeviceObject; *link != nullptr;
       link = &(*link)->NextDevice) {
    if (*link == device) {
      *link = device->NextDevice;
      return;
    }
  }
}

}  // namespace

void FailNextDeviceCreation(NTSTATUS status) {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  TheObjects().deviceFault = status;
}

void FailNextLinkCreation(NTSTATUS status) {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  TheObjects().linkFault = status;
}

void FailNextEventCreation() {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  TheObjects().eventFault = true;
}

void FailNextObjectOpen(NTSTATUS status) {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  TheObjects().openFault = status;
}

void FailNextSecuritySetting(NTSTATUS status) {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  TheObjects().securityFault = status;
}

void FailNextEventSecuritySetting(NTSTATUS status) {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  TheObjects().eventSecurityFault = status;
}

ULONG DeviceCharacteristics(const std::string& name) {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  const Device* device = DeviceNamed(TheObjects(), name);
  return device != nullptr ? device->characteristics : 0;
}

ObjectSecurity SecurityOf(const std::string& deviceName) {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  const Device* device = DeviceNamed(TheObjects(), deviceName);
  return device != nullptr ? device->security : ObjectSecurity{};
}

ObjectSecurity EventSecurityOf(const std::string& eventName) {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  const auto found = TheObjects().events.find(Folded(eventName));
  return found != TheObjects().events.end() ? found->second.security : ObjectSecurity{};
}

bool AccessAllowed(const ObjectSecurity& security, bool administrator, ACCESS_MASK desired) {
  if (!security.set) return true;
  ACCESS_MASK granted = 0;
  for (const AllowedAce& ace : security.dacl) {
    if (ace.sid == "S-1-1-0" || (administrator && ace.sid == "S-1-5-32-544")) granted |= ace.mask;
  }
  return (desired & ~granted) == 0;
}

bool OpenAllowed(const std::string& deviceName, bool administrator, ACCESS_MASK desired) {
  return AccessAllowed(SecurityOf(deviceName), administrator, desired);
}

void SetNamedEventsSystemWide(bool on) {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  TheObjects().systemWideEvents = on;
}

std::string SystemWideEventError() {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  return TheObjects().systemWideError;
}

PDEVICE_OBJECT FindDevice(const std::string& name) {
  Objects& objects = TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  const auto found = objects.deviceNames.find(Folded(name));
  return found != objects.deviceNames.end() ? found->second : nullptr;
}

bool LinkExists(const std::string& name) {
  Objects& objects = TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  return objects.links.count(Folded(name)) != 0;
}

std::string LinkTarget(const std::string& name) {
  Objects& objects = TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  const auto found = objects.links.find(Folded(name));
  return found != objects.links.end() ? found->second : std::string();
}

PKEVENT FindEvent(const std::string& name) {
  Objects& objects = TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  const auto found = objects.events.find(Folded(name));
  return found != objects.events.end() ? found->second.event.get() : nullptr;
}

size_t EventHandleCount(const std::string& name) {
  Objects& objects = TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  const auto found = objects.events.find(Folded(name));
  return found != objects.events.end() ? found->second.handles : 0;
}

size_t OpenHandleCount() {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  return TheObjects().handles.size() + TheObjects().deviceHandles.size();
}

size_t DeviceCount() {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  return TheObjects().devices.size();
}

size_t LinkCount() {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  return TheObjects().links.size();
}

size_t ReferenceCount() {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  return TheObjects().references;
}

size_t InvalidCloseCount() {
  std::lock_guard<std::mutex> lock(TheObjects().mutex);
  return TheObjects().invalidCloses;
}

void ResetObjects() {
  Objects& objects = TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  objects.devices.clear();
  objects.deviceNames.clear();
  objects.links.clear();
  objects.events.clear();
  objects.handles.clear();
  objects.deviceHandles.clear();
  objects.openFault = STATUS_SUCCESS;
  objects.securityFault = STATUS_SUCCESS;
  objects.eventSecurityFault = STATUS_SUCCESS;
  objects.deviceFault = STATUS_SUCCESS;
  objects.linkFault = STATUS_SUCCESS;
  objects.eventFault = false;
  objects.invalidCloses = 0;
  objects.references = 0;
  objects.systemWideError.clear();
}

}  // namespace ntemu

extern "C" {

NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                        PUNICODE_STRING DeviceName, DEVICE_TYPE DeviceType,
                        ULONG DeviceCharacteristics, BOOLEAN, PDEVICE_OBJECT* DeviceObject) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  const NTSTATUS fault = ntemu::Take(objects.deviceFault);
  if (!NT_SUCCESS(fault)) return fault;
  const std::string name = DeviceName != nullptr ? ntemu::NameOf(DeviceName) : std::string();
  if (!name.empty() && objects.deviceNames.count(name) != 0) return STATUS_OBJECT_NAME_COLLISION;

  auto device = std::make_unique<ntemu::Device>();
  device->name = name;
  device->extension.assign(DeviceExtensionSize, 0);  // the I/O manager clears the extension
  device->object.DeviceType = DeviceType;
  device->characteristics = DeviceCharacteristics;
  device->object.DriverObject = DriverObject;
  device->object.DeviceExtension = DeviceExtensionSize != 0 ? device->extension.data() : nullptr;
  device->object.NextDevice = DriverObject->DeviceObject;
  PDEVICE_OBJECT object = &device->object;
  DriverObject->DeviceObject = object;
  if (!name.empty()) objects.deviceNames[name] = object;
  objects.devices[object] = std::move(device);
  *DeviceObject = object;
  return STATUS_SUCCESS;
}

VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  const auto found = objects.devices.find(DeviceObject);
  if (found == objects.devices.end()) std::abort();  // not a device of ours
  ntemu::Unchain(DeviceObject);
  for (const auto& open : objects.deviceHandles) {
    if (open.second == DeviceObject) std::abort();  // deleted while a handle is open
  }
  objects.deviceNames.erase(found->second->name);
  objects.devices.erase(found);
}

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  const NTSTATUS fault = ntemu::Take(objects.linkFault);
  if (!NT_SUCCESS(fault)) return fault;
  const std::string name = ntemu::NameOf(SymbolicLinkName);
  if (objects.links.count(name) != 0) return STATUS_OBJECT_NAME_COLLISION;
  objects.links[name] = ntemu::NameOf(DeviceName);
  return STATUS_SUCCESS;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  return objects.links.erase(ntemu::NameOf(SymbolicLinkName)) != 0 ? STATUS_SUCCESS
                                                                   : STATUS_OBJECT_NAME_NOT_FOUND;
}

// Opens the named synchronization event, creating it signalled if no handle
// to it is open; every call adds a handle.
PKEVENT IoCreateSynchronizationEvent(PUNICODE_STRING EventName, PHANDLE EventHandle) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  if (ntemu::Take(objects.eventFault)) return nullptr;
  const std::string name = ntemu::NameOf(EventName);
  if (!objects.events.count(name) && !ntemu::CreateNamedEvent(objects, name, SynchronizationEvent,
                                                              true, ntemu::ObjectSecurity{})) {
    return nullptr;
  }
  *EventHandle = ntemu::OpenNamedEvent(objects, name);
  return objects.events.at(name).event.get();
}

// Creates a named event, with the access list of the attributes' descriptor
// when it has one, or with OBJ_OPENIF opens the one of that name that exists
// (STATUS_OBJECT_NAME_EXISTS), whatever its kind, leaving its list alone.
NTSTATUS ZwCreateEvent(PHANDLE EventHandle, ACCESS_MASK, POBJECT_ATTRIBUTES ObjectAttributes,
                       EVENT_TYPE EventType, BOOLEAN InitialState) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  if (ntemu::Take(objects.eventFault)) return STATUS_INSUFFICIENT_RESOURCES;
  if (ObjectAttributes == nullptr || ObjectAttributes->ObjectName == nullptr) {
    return STATUS_INVALID_PARAMETER;  // the stand-in keeps named events only
  }
  const std::string name = ntemu::NameOf(ObjectAttributes->ObjectName);
  if (objects.events.count(name) != 0) {
    if ((ObjectAttributes->Attributes & OBJ_OPENIF) == 0) return STATUS_OBJECT_NAME_COLLISION;
    *EventHandle = ntemu::OpenNamedEvent(objects, name);
    return STATUS_OBJECT_NAME_EXISTS;
  }
  ntemu::ObjectSecurity security;
  if (ObjectAttributes->SecurityDescriptor != nullptr) {
    security.set = true;
    const auto* descriptor =
        static_cast<const SECURITY_DESCRIPTOR*>(ObjectAttributes->SecurityDescriptor);
    if (!ntemu::ReadDacl(*descriptor, &security.dacl)) return STATUS_INVALID_ACL;
  }
  if (!ntemu::CreateNamedEvent(objects, name, EventType, InitialState != FALSE, security)) {
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  *EventHandle = ntemu::OpenNamedEvent(objects, name);
  return STATUS_SUCCESS;
}

// The event behind an event handle, counted until dereferenced. Events are
// the only objects with handles the stand-in refers to, so no type is
// checked; a caller in kernel mode may pass none.
NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK, POBJECT_TYPE, KPROCESSOR_MODE,
                                   PVOID* Object, POBJECT_HANDLE_INFORMATION) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  const auto found = objects.handles.find(reinterpret_cast<uintptr_t>(Handle));
  if (found == objects.handles.end()) return STATUS_INVALID_HANDLE;
  ++objects.references;
  *Object = objects.events.at(found->second).event.get();
  return STATUS_SUCCESS;
}

LONG_PTR ObfDereferenceObject(PVOID) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  if (objects.references == 0) std::abort();  // more dereferences than references
  return static_cast<LONG_PTR>(--objects.references);
}

// Opens an existing named event; every call that succeeds adds a handle.
NTSTATUS ZwOpenEvent(PHANDLE EventHandle, ACCESS_MASK, POBJECT_ATTRIBUTES ObjectAttributes) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  if (ObjectAttributes->ObjectName == nullptr) return STATUS_INVALID_PARAMETER;
  const std::string name = ntemu::NameOf(ObjectAttributes->ObjectName);
  const auto found = objects.events.find(name);
  if (found == objects.events.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
  ++found->second.handles;
  const uintptr_t handle = ntemu::NewHandle(objects);
  objects.handles[handle] = name;
  *EventHandle = reinterpret_cast<HANDLE>(handle);
  return STATUS_SUCCESS;
}

// Kernel handles to devices only: that is all the driver opens by pointer.
NTSTATUS ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes, PACCESS_STATE, ACCESS_MASK,
                               POBJECT_TYPE, KPROCESSOR_MODE AccessMode, PHANDLE Handle) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  const NTSTATUS fault = ntemu::Take(objects.openFault);
  if (!NT_SUCCESS(fault)) return fault;
  const auto device = static_cast<PDEVICE_OBJECT>(Object);
  if (objects.devices.count(device) == 0) return STATUS_OBJECT_TYPE_MISMATCH;
  if ((HandleAttributes & OBJ_KERNEL_HANDLE) == 0 || AccessMode != KernelMode) {
    return STATUS_INVALID_PARAMETER;  // the stand-in has no user-mode handle table
  }
  const uintptr_t handle = ntemu::NewHandle(objects);
  objects.deviceHandles[handle] = device;
  *Handle = reinterpret_cast<HANDLE>(handle);
  return STATUS_SUCCESS;
}

// Sets the access list of a device or an event (the only security
// information the stand-in keeps).
NTSTATUS ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                             PSECURITY_DESCRIPTOR SecurityDescriptor) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  const uintptr_t key = reinterpret_cast<uintptr_t>(Handle);
  const auto device = objects.deviceHandles.find(key);
  const auto event = objects.handles.find(key);
  const NTSTATUS fault = ntemu::Take(objects.securityFault);
  if (!NT_SUCCESS(fault)) return fault;
  if (event != objects.handles.end()) {
    const NTSTATUS eventFault = ntemu::Take(objects.eventSecurityFault);
    if (!NT_SUCCESS(eventFault)) return eventFault;
  }
  if (SecurityInformation != DACL_SECURITY_INFORMATION) return STATUS_INVALID_PARAMETER;
  std::vector<ntemu::AllowedAce> dacl;
  if (!ntemu::ReadDacl(*static_cast<PISECURITY_DESCRIPTOR>(SecurityDescriptor), &dacl)) {
    return STATUS_INVALID_ACL;
  }
  ntemu::ObjectSecurity* security = nullptr;
  if (device != objects.deviceHandles.end())
    security = &objects.devices.at(device->second)->security;
  if (event != objects.handles.end()) security = &objects.events.at(event->second).security;
  if (security == nullptr) return STATUS_INVALID_HANDLE;
  security->set = true;
  security->dacl = std::move(dacl);
  return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE Handle) {
  ntemu::Objects& objects = ntemu::TheObjects();
  std::lock_guard<std::mutex> lock(objects.mutex);
  if (objects.deviceHandles.erase(reinterpret_cast<uintptr_t>(Handle)) != 0) return STATUS_SUCCESS;
  const auto found = objects.handles.find(reinterpret_cast<uintptr_t>(Handle));
  if (found == objects.handles.end()) {
    ++objects.invalidCloses;
    return STATUS_INVALID_HANDLE;
  }
  const auto named = objects.events.find(found->second);
  objects.handles.erase(found);
  if (named != objects.events.end() && --named->second.handles == 0) {
    objects.events.erase(named);  // the last handle takes the event with it
  }
  return STATUS_SUCCESS;
}

}  // extern "C"
