// The SMBus back-end contract.
//
// Every back-end offers the same eight primitives; the router picks the
// back-end by Chipset on every call, and the composed operations build
// multi-byte transfers and retries out of the routed primitives. Primitives
// never retry; only the composed operations do.
#pragma once

#include <omzi2c/omzi2c.h>

#include "platform/nt.h"

using omzi2c::kResultAlert;
using omzi2c::kResultBusBusy;
using omzi2c::kResultBusError;
using omzi2c::kResultCollisionOrDeviceError;
using omzi2c::kResultDeviceError;
using omzi2c::kResultFailed;
using omzi2c::kResultHostNotReady;
using omzi2c::kResultNoAcknowledge;
using omzi2c::kResultNotSupported;
using omzi2c::kResultPecError;
using omzi2c::kResultSuccess;
using omzi2c::kResultTimeout;
using omzi2c::ResultCode;

// Blocks carry at most this many bytes.
constexpr UCHAR kMaxBlockBytes = 32;

// Routed primitives: each selects the back-end by Chipset; a Chipset without
// a back-end answers kResultNotSupported with no bus activity.
namespace Route {
ResultCode ReceiveByte(UCHAR address, UCHAR* byte);
ResultCode SendByte(UCHAR address, UCHAR byte);
ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte);
ResultCode WriteByteData(UCHAR address, UCHAR command, UCHAR byte);
ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word);
ResultCode WriteWordData(UCHAR address, UCHAR command, USHORT word);
}  // namespace Route

// Operations the request layer calls.
ResultCode SendBytes(UCHAR address, const UCHAR* data, UCHAR count);
ResultCode ReceiveBytes(UCHAR address, UCHAR* buffer, UCHAR count);
ResultCode ReadWithCommand(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR count);
ResultCode WriteWithCommand(UCHAR address, UCHAR command, const UCHAR* data, UCHAR count);
// `buffer` holds at least 32 bytes; `count` is the request's count on entry
// and the host-reported block length on return.
ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count);
ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* data, UCHAR count);
// Message exchange and write exist only on hosts that provide them.
ResultCode ExchangeMessage(UCHAR address, UCHAR* data, UCHAR* count, ULONG limit);
ResultCode WriteMessage(UCHAR address, const UCHAR* data, UCHAR count);
