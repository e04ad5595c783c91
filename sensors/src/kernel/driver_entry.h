// Start-up and unload: parameters from the service key, discovery, the
// device, its link and the shared bus event.
#pragma once

#include "platform/nt.h"

// Pool tag of the temporary path buffer: "Ddk ".
constexpr ULONG kPathBufferTag = 0x206B6444;

// One value of the subkey `suffix` of the service key, read with a direct
// registry query. The default when the key, the value or the path buffer is
// missing, or the query fails.
ULONG QueryParameter(PUNICODE_STRING servicePath, PCWSTR suffix, PCWSTR valueName,
                     ULONG defaultType, ULONG defaultLength, ULONG defaultValue);

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

VOID NTAPI DriverUnload(PDRIVER_OBJECT driver);
