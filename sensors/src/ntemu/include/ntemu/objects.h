// The stand-in's object namespace: devices ("\Device\..."), symbolic links
// ("\DosDevices\..."), named events and the handle table. Tests inspect it
// and inject creation failures.
#pragma once

#include <cstddef>
#include <string>

#include "ntemu/nt.h"

namespace ntemu {

// Creation failures: the next creation of that kind fails with the status
// (0 clears the fault). An injected event failure makes
// IoCreateSynchronizationEvent return no event.
void FailNextDeviceCreation(NTSTATUS status);
void FailNextLinkCreation(NTSTATUS status);
void FailNextEventCreation();

// When on, a named event created from now on is shared with every process
// that uses the same name (see AttachSystemWideLock), as named kernel events
// are on Windows. Off by default: tests keep their events to themselves.
void SetNamedEventsSystemWide(bool on);

PDEVICE_OBJECT FindDevice(const std::string& name);
bool LinkExists(const std::string& name);
std::string LinkTarget(const std::string& name);
// The named event, or null when no handle to it is open.
PKEVENT FindEvent(const std::string& name);
size_t EventHandleCount(const std::string& name);
size_t OpenHandleCount();
size_t DeviceCount();
size_t LinkCount();
// Handles closed with ZwClose that were not open (0 included).
size_t InvalidCloseCount();

// Deletes everything and clears pending faults and counters. Objects handed
// out before become invalid.
void ResetObjects();

}  // namespace ntemu
