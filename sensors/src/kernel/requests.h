// The driver's request surface: the dispatch routine and the two handlers.
#pragma once

#include <omzi2c/omzi2c.h>

#include "device_extension.h"
#include "platform/nt.h"

// Registered for create, close and device control; always completes the request.
NTSTATUS NTAPI DispatchRequest(PDEVICE_OBJECT device, PIRP irp);

// The longest an SMBus request waits for the bus event, in 100-ns units:
// 30 s. A healthy holder keeps the bus for well under a second; a request
// queued behind a failing host that holds it longer completes with
// STATUS_IO_TIMEOUT instead of waiting it out.
constexpr LONGLONG kBusWaitLimit = 30LL * 10 * 1000 * 1000;

// SMBus control codes: validate, run one operation under the bus event, reply.
NTSTATUS HandleSmbRequest(DeviceExtension* extension, PIRP irp, PIO_STACK_LOCATION stack,
                          ULONG code);

// Raw port control codes: one port access, no lock.
NTSTATUS HandlePortRequest(DeviceExtension* extension, PIRP irp, PIO_STACK_LOCATION stack,
                           ULONG code);

NTSTATUS ToNtStatus(omzi2c::ResultCode result);

bool IsSmbControlCode(ULONG code);

// Message exchange: the most reply bytes (length byte included) the exchange
// may produce so that the reply fits the buffer from the data offset on and,
// moved to offset 0, the caller's output buffer. Requires in >= 40.
ULONG ExchangeMessageLimit(ULONG in, ULONG out);
// Moves the reply (length byte `count`, then `count` bytes) from the data
// offset to offset 0; returns its length, count + 1.
ULONG MoveExchangeReply(UCHAR* buffer, UCHAR count);
bool IsPortControlCode(ULONG code);
