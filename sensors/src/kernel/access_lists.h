// Who may open the driver's objects: SYSTEM and Administrators, nobody else.
#pragma once

#include "platform/nt.h"

// Replaces the device's default access list with one that gives SYSTEM and
// Administrators all file access, through a kernel handle to the device.
NTSTATUS ProtectDevice(PDEVICE_OBJECT device);

// Gives the bus event the driver created, through its handle, an access list
// that lets SYSTEM and Administrators do anything with it and nobody else
// open it.
NTSTATUS ProtectBusEvent(HANDLE eventHandle);
