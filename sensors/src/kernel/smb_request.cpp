// SMBus requests: validate the record, run one operation while holding the
// bus event, build the reply in the system buffer.
//
// Every reply stays within the caller's output buffer: a successful reply
// that does not fit is cut to the output length and completes with
// STATUS_BUFFER_OVERFLOW, so the caller sees both the bytes that fit and that
// there were more. Nothing past the input length is ever sent on the bus.
#include "controller_state.h"
#include "hosts/host_contract.h"
#include "requests.h"

using namespace omzi2c;

namespace {

struct SmbRecord {
  UCHAR address;
  UCHAR command;
  UCHAR count;
};

struct SmbOutcome {
  ResultCode result;
  ULONG_PTR length;  // bytes of reply
  bool truncated;    // a successful reply was longer than the output buffer
};

bool IsBlockRecordCode(ULONG code) {
  return code == kIoctlBlockRead || code == kIoctlBlockWrite || code == kIoctlExchangeMessage ||
         code == kIoctlWriteMessage;
}

bool IsReadingCode(ULONG code) {
  return code == kIoctlReceiveBytes || code == kIoctlReadWithCommand || code == kIoctlBlockRead ||
         code == kIoctlExchangeMessage;
}

ULONG Larger(ULONG a, ULONG b) {
  return a > b ? a : b;
}
ULONG Smaller(ULONG a, ULONG b) {
  return a < b ? a : b;
}

// The record's length rules; false means STATUS_INVALID_PARAMETER with no bus
// activity.
bool LengthsValid(ULONG code, ULONG in, ULONG out, const UCHAR* buffer) {
  const ULONG minimum = IsBlockRecordCode(code) ? kSmbBlockRecordLength : kSmbShortRecordLength;
  if (in < minimum) return false;
  const ULONG count = buffer[kSmbCountOffset];
  switch (code) {
    case kIoctlReceiveBytes:
    case kIoctlReadWithCommand:
      return out >= count;
    case kIoctlWriteWithCommand:
    case kIoctlSendBytes:
      return in == count + kSmbDataOffset + 3;  // fixed part plus the data bytes
    case kIoctlExchangeMessage:
    case kIoctlWriteMessage:
      return count + kSmbDataOffset <= in;  // every byte sent comes from the input
    default:
      return true;
  }
}

// A reading code's successful reply of `length` bytes, cut to the output buffer.
SmbOutcome DataReply(ULONG length, ULONG out) {
  if (length > out) return {kResultSuccess, out, true};
  return {kResultSuccess, length, false};
}

// The counts a back-end reports are checked here too, so that no back-end
// can move a reply past the room it was given: a reply longer than the
// exchange's limit is refused as too long, a block longer than 32 bytes as an
// invalid count received, the results a host gives for the same faults.
SmbOutcome RunExchangeMessage(const SmbRecord& record, UCHAR* buffer, ULONG in, ULONG out) {
  UCHAR count = record.count;
  const ULONG limit = ExchangeMessageLimit(in, out);
  const ResultCode result = ExchangeMessage(record.address, buffer + kSmbDataOffset, &count, limit);
  if (result != kResultSuccess) return {result, 0, false};
  if (static_cast<ULONG>(count) + 1 > limit) return {kResultFailed, 0, false};
  return DataReply(MoveExchangeReply(buffer, count), out);
}

SmbOutcome RunBlockRead(const SmbRecord& record, UCHAR* buffer, ULONG out) {
  UCHAR count = record.count;
  const ResultCode result = BlockRead(record.address, record.command, buffer, &count);
  if (result != kResultSuccess) return {result, 0, false};
  if (count > kMaxBlockBytes) return {kResultDeviceError, 0, false};
  return DataReply(count, out);
}

// The record holds 32 data bytes, but any count up to 255 reaches the host,
// which cuts or refuses it by its own rule. The host is handed a copy as long
// as any count can ask for: the record's data, then zeros, so that a host
// that failed to cut could never read past the record.
ResultCode RunBlockWrite(const SmbRecord& record, const UCHAR* buffer) {
  UCHAR block[256];
  for (ULONG i = 0; i < sizeof(block); ++i)
    block[i] = i < kMaxBlockBytes ? buffer[kSmbDataOffset + i] : 0;
  return BlockWrite(record.address, record.command, block, record.count);
}

// Runs the code's operation; the caller holds the bus event.
SmbOutcome RunOperation(ULONG code, const SmbRecord& record, UCHAR* buffer, ULONG in, ULONG out) {
  if (code == kIoctlBlockRead || code == kIoctlReceiveBytes || code == kIoctlReadWithCommand) {
    for (ULONG i = 0; i < out; ++i)
      buffer[i] = 0;
  }
  ResultCode result;
  switch (code) {
    case kIoctlBlockRead:
      return RunBlockRead(record, buffer, out);
    case kIoctlReceiveBytes:
      result = ReceiveBytes(record.address, buffer, record.count);
      return {result, result == kResultSuccess ? out : 0, false};
    case kIoctlReadWithCommand:
      result = ReadWithCommand(record.address, record.command, buffer, record.count);
      return {result, result == kResultSuccess ? out : 0, false};
    case kIoctlWriteWithCommand:
      return {
          WriteWithCommand(record.address, record.command, buffer + kSmbDataOffset, record.count),
          0, false};
    case kIoctlSendBytes:
      return {SendBytes(record.address, buffer + kSmbDataOffset, record.count), 0, false};
    case kIoctlBlockWrite:
      return {RunBlockWrite(record, buffer), 0, false};
    case kIoctlWriteMessage:
      return {WriteMessage(record.address, buffer + kSmbDataOffset, record.count), 0, false};
    case kIoctlExchangeMessage:
      return RunExchangeMessage(record, buffer, in, out);
    default:
      return {kResultNotSupported, 0, false};
  }
}

// Waits for the bus event: STATUS_SUCCESS once it is held, else the status
// the request completes with, having never held it. The wait is made in the
// requestor's mode and alertable, so that the caller's thread can be ended
// while it waits. Only STATUS_SUCCESS means the event was taken: the wait's
// other success values (a user APC, an alert, the time-out) must not reach
// the caller as success.
NTSTATUS TakeBus(DeviceExtension* extension, PIRP irp) {
  LARGE_INTEGER timeout;
  timeout.QuadPart = -kBusWaitLimit;  // relative
  const NTSTATUS waited =
      KeWaitForSingleObject(extension->BusEvent, Executive, irp->RequestorMode, TRUE, &timeout);
  if (waited == STATUS_SUCCESS) return STATUS_SUCCESS;
  return waited == STATUS_TIMEOUT ? STATUS_IO_TIMEOUT : STATUS_CANCELLED;
}

// Error reply of the reading codes: the result and the host's last status,
// as much of it as the output buffer holds.
void WriteErrorReply(SmbOutcome* outcome, UCHAR* buffer, ULONG out) {
  buffer[0] = static_cast<UCHAR>(outcome->result & 0xFF);
  buffer[1] = Controller.LastHostStatus;
  outcome->length = Smaller(kSmbErrorReplyLength, out);
}

}  // namespace

ULONG ExchangeMessageLimit(ULONG in, ULONG out) {
  return Smaller(Larger(in, out) - kSmbDataOffset, out);
}

ULONG MoveExchangeReply(UCHAR* buffer, UCHAR count) {
  const ULONG replyLength = static_cast<ULONG>(count) + 1;  // 256 for a 255-byte reply
  const UCHAR* data = buffer + kSmbDataOffset;
  for (ULONG i = 0; i < replyLength; ++i)
    buffer[i] = data[i];  // forward copy, overlapping
  return replyLength;
}

bool IsSmbControlCode(ULONG code) {
  switch (code) {
    case kIoctlReceiveBytes:
    case kIoctlReadWithCommand:
    case kIoctlWriteWithCommand:
    case kIoctlSendBytes:
    case kIoctlUnsupported:
    case kIoctlBlockRead:
    case kIoctlBlockWrite:
    case kIoctlExchangeMessage:
    case kIoctlWriteMessage:
      return true;
    default:
      return false;
  }
}

NTSTATUS HandleSmbRequest(DeviceExtension* extension, PIRP irp, PIO_STACK_LOCATION stack,
                          ULONG code) {
  // The reserved code does nothing on any host: it is answered before its
  // buffer (which may be absent) or the bus event is touched.
  if (code == kIoctlUnsupported) {
    irp->IoStatus.Information = 0;
    return ToNtStatus(kResultNotSupported);
  }
  const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
  if (!LengthsValid(code, in, out, buffer)) return STATUS_INVALID_PARAMETER;

  const SmbRecord record = {buffer[kSmbAddressOffset], buffer[kSmbCommandOffset],
                            buffer[kSmbCountOffset]};

  // A request that does not get the bus has touched nothing: no reply, no
  // port access, and no set, which would free another holder's bus.
  const NTSTATUS taken = TakeBus(extension, irp);
  if (taken != STATUS_SUCCESS) {
    irp->IoStatus.Information = 0;
    return taken;
  }
  SmbOutcome outcome = RunOperation(code, record, buffer, in, out);
  if (outcome.result != kResultSuccess && IsReadingCode(code)) {
    WriteErrorReply(&outcome, buffer, out);
  }
  KeSetEvent(extension->BusEvent, IO_NO_INCREMENT, FALSE);

  irp->IoStatus.Information = outcome.length;
  if (outcome.truncated) return STATUS_BUFFER_OVERFLOW;
  return ToNtStatus(outcome.result);
}
