// Who may open the driver's objects: SYSTEM and Administrators, nobody else.
#pragma once

#include "platform/nt.h"

// Replaces the device's default access list with one that gives SYSTEM and
// Administrators all file access, through a kernel handle to the device.
NTSTATUS ProtectDevice(PDEVICE_OBJECT device);

// Opens the named bus event, or creates it as a free synchronization event
// whose access list lets SYSTEM and Administrators do anything with it and
// nobody else open it. Both in one step: no other component can create the
// name between a look and the creation, and an event that exists already
// keeps its own list. A kernel handle in `handle` on success.
NTSTATUS OpenOrCreateBusEvent(PUNICODE_STRING name, PHANDLE handle);
