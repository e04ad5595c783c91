// The one place that chooses the platform the driver is built for: the real
// kernel's DDK headers for the Windows driver, the user-space stand-in
// otherwise. Kernel sources include this and nothing else from the platform.
#pragma once

#if defined(_WIN32)
#include <ntifs.h>  // ntddk.h plus the security routines
#else
#include <ntemu/nt.h>
#endif
