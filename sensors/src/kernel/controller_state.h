// Driver-wide state: written at start-up, read-only afterwards except
// LastHostStatus, which a back-end may write while the bus event is held.
#pragma once

#include "platform/nt.h"

struct ControllerState {
  UCHAR ISAPortDriverEnable;  // raw port service enabled (low byte of the value)
  UCHAR I2CDriverEnable;      // SMBus service enabled (low byte of the value)
  LONG Chipset;               // controller kind, selects the back-end
  USHORT VID;
  USHORT DID;
  USHORT Func;
  // The optional HostFunction parameter: when set, discovery switches on and
  // reads the host at this function instead of the one its Chipset fixes.
  BOOLEAN HostFunctionSet;
  UCHAR HostFunction;
  USHORT SmbBase;        // I/O base of the SMBus host
  USHORT EcDataPort;     // embedded controller data port
  USHORT EcCommandPort;  // embedded controller command/status port
  ULONG SavedHostBus;
  ULONG SavedHostDevice;
  ULONG SavedHostFunction;
  ULONG SavedHostConfig;
  ULONG SavedBaseConfig;
  UCHAR LastHostStatus;  // reported in error replies
};

extern ControllerState Controller;
