// The stand-in's object namespace: devices ("\Device\..."), symbolic links
// ("\DosDevices\..."), named events and the handle table. Tests inspect it
// and inject creation failures.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ntemu/nt.h"

namespace ntemu {

// Creation failures: the next creation of that kind fails with the status
// (0 clears the fault). An injected event failure makes
// IoCreateSynchronizationEvent return no event and ZwCreateEvent fail.
void FailNextDeviceCreation(NTSTATUS status);
void FailNextLinkCreation(NTSTATUS status);
void FailNextEventCreation();
// The next ObOpenObjectByPointer, the next ZwSetSecurityObject, or the next
// ZwSetSecurityObject on an event, fails with the status (0 clears the
// fault).
void FailNextObjectOpen(NTSTATUS status);
void FailNextSecuritySetting(NTSTATUS status);
void FailNextEventSecuritySetting(NTSTATUS status);

// When on, a named event created from now on is shared with every process
// that uses the same name (see AttachSystemWideLock), as named kernel events
// are on Windows. Off by default: tests keep their events to themselves.
void SetNamedEventsSystemWide(bool on);
// Why the last named event created could not be shared system-wide (the
// lock file refused or missing), which made its creation fail; empty when
// it could.
std::string SystemWideEventError();

PDEVICE_OBJECT FindDevice(const std::string& name);
bool LinkExists(const std::string& name);
std::string LinkTarget(const std::string& name);
// The named event, or null when no handle to it is open.
PKEVENT FindEvent(const std::string& name);
size_t EventHandleCount(const std::string& name);
size_t OpenHandleCount();
size_t DeviceCount();
size_t LinkCount();
// References ObReferenceObjectByHandle handed out that were not given back.
size_t ReferenceCount();
// Handles closed with ZwClose that were not open (0 included).
size_t InvalidCloseCount();

// What IoCreateDevice was given as the device's characteristics; 0 for no
// such device.
ULONG DeviceCharacteristics(const std::string& name);

// An object's access list as last set with ZwSetSecurityObject: each allowed
// entry's SID in text form ("S-1-5-32-544") and its access mask.
struct AllowedAce {
  std::string sid;
  ACCESS_MASK mask;
  bool operator==(const AllowedAce& other) const { return sid == other.sid && mask == other.mask; }
};
struct ObjectSecurity {
  bool set = false;  // false: the object keeps the default, which lets anyone in
  std::vector<AllowedAce> dacl;
};
ObjectSecurity SecurityOf(const std::string& deviceName);
ObjectSecurity EventSecurityOf(const std::string& eventName);
// Whether opening an object with `security` for `desired` access succeeds for
// a caller who is in Everyone and, when `administrator`, in Administrators:
// the union of what the entries for those SIDs allow must cover `desired`.
bool AccessAllowed(const ObjectSecurity& security, bool administrator, ACCESS_MASK desired);
bool OpenAllowed(const std::string& deviceName, bool administrator, ACCESS_MASK desired);
// The access list in the security descriptor string form Windows writes
// ("D:(A;;FA;;;SY)"): well-known SIDs and access masks by their short names,
// other masks in hex; "D:NO_ACCESS_CONTROL" for an object whose list was
// never set.
std::string Sddl(const ObjectSecurity& security);

// Deletes everything and clears pending faults and counters. Objects handed
// out before become invalid.
void ResetObjects();

}  // namespace ntemu
