// Per-device data kept in the device object's extension.
#pragma once

#include "platform/nt.h"

struct DeviceExtension {
  ULONG DeviceType;       // 0x8007
  PDEVICE_OBJECT Device;  // the device's own object
  PKEVENT BusEvent;       // the shared bus event; null without SMBus service
  HANDLE BusEventHandle;  // its kernel handle; 0 without SMBus service
};
