// Byte-done host back-end, serving Chipset 2 and 3 alike.
//
// Before every transaction the host's in-use and busy flags must clear; a
// host that stays in use or busy is killed. Error flags of a finished
// transaction are decoded in a fixed priority: alert, failed, collision,
// device error. Primitives never retry.
#include "hosts/byte_done_host.h"

#include "hosts/host_registers.h"

namespace ByteDoneHost {
namespace {

using HostRegisters::ReadAddress;
using HostRegisters::ReadRegister;
using HostRegisters::WriteAddress;
using HostRegisters::WriteRegister;

UCHAR ReadStatus() {
  return ReadRegister(kStatus);
}
void WriteStatus(UCHAR value) {
  WriteRegister(kStatus, value);
}
void WriteControl(UCHAR value) {
  WriteRegister(kControl, value);
}

// Writing back the value just read clears exactly the flags that were set.
void ClearStatus() {
  WriteStatus(ReadStatus());
}

// The kill bit must be dropped again before the host takes a new start.
void Kill() {
  WriteControl(control::kKill);
  WriteControl(0);
}

// Result of a status with at least one error flag, highest priority first.
ResultCode ErrorResult(UCHAR value) {
  if (value & status::kAlert) return kResultAlert;
  if (value & status::kFailed) return kResultFailed;
  if (value & status::kCollision) return kResultBusError;
  return kResultDeviceError;
}

// After a kill: the status read may itself have claimed the in-use flag, so
// hand it back if it was not already ours to clear.
void ReleaseAfterError() {
  const UCHAR value = ReadStatus();
  WriteStatus(value);
  if ((value & status::kInUse) == 0) WriteStatus(status::kInUse);
}

// WaitIdle phase 1. On a host still in use when the budget is spent the
// flag is forced free; `polls` carries the shared budget on to phase 2.
ResultCode WaitInUseClear(ULONG* polls) {
  UCHAR value = ReadStatus();
  while (value & status::kInUse) {
    if (*polls == kPollBudget) {
      Kill();
      WriteStatus(status::kInUse);
      if (ReadStatus() & status::kInUse) return kResultTimeout;
      return kResultSuccess;
    }
    ++*polls;
    value = ReadStatus();
  }
  return kResultSuccess;
}

// WaitIdle phase 2, with what is left of the budget.
ResultCode WaitBusyClear(ULONG* polls) {
  UCHAR value = ReadStatus();
  while (value & status::kBusy) {
    if (*polls == kPollBudget) {
      Kill();
      ClearStatus();
      return kResultHostNotReady;
    }
    ++*polls;
    value = ReadStatus();
  }
  return kResultSuccess;
}

// Protocol alone first, then with the start bit.
void Start(UCHAR protocol) {
  WriteControl(protocol);
  WriteControl(static_cast<UCHAR>(protocol | control::kStart));
}

ResultCode StartAndWait(UCHAR protocol) {
  Start(protocol);
  return WaitDone();
}

}  // namespace

ResultCode WaitIdle() {
  ULONG polls = 0;
  ResultCode result = WaitInUseClear(&polls);
  if (result != kResultSuccess) return result;
  result = WaitBusyClear(&polls);
  if (result != kResultSuccess) return result;
  WriteStatus(status::kAllButInUse);
  return kResultSuccess;
}

ResultCode WaitDone() {
  UCHAR value = 0;
  if (!HostRegisters::PollUntilAnySet(kStatus, status::kBusy | status::kDone, &value)) {
    Kill();
    ClearStatus();
    return kResultHostNotReady;
  }
  ReadStatus();  // one more read, value unused
  if (!HostRegisters::PollUntilClear(kStatus, status::kBusy, &value)) {
    Kill();
    ClearStatus();
    return kResultTimeout;
  }
  ClearStatus();
  if ((value & status::kErrors) == 0) return kResultSuccess;
  Kill();
  ReleaseAfterError();
  return ErrorResult(value);
}

ResultCode WaitByteDone() {
  UCHAR value = 0;
  if (!HostRegisters::PollUntilAnySet(kStatus, status::kByteDone | status::kDone, &value)) {
    Kill();
    ClearStatus();
    return kResultHostNotReady;
  }
  const UCHAR errors = value & status::kBlockErrors;
  if (errors == 0) return kResultSuccess;  // the status stays as it is
  Kill();
  ClearStatus();
  return ErrorResult(errors);
}

ResultCode ReceiveByte(UCHAR address, UCHAR* byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  const ResultCode result = StartAndWait(control::kByte);
  if (result != kResultSuccess) return result;
  *byte = ReadRegister(kData0);
  return kResultSuccess;
}

ResultCode SendByte(UCHAR address, UCHAR byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, WriteAddress(address));
  WriteRegister(kCommand, byte);  // a send byte carries its data in the command register
  return StartAndWait(control::kByte);
}

ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  const ResultCode result = StartAndWait(control::kByteData);
  if (result != kResultSuccess) return result;
  *byte = ReadRegister(kData0);
  return kResultSuccess;
}

ResultCode WriteByteData(UCHAR address, UCHAR command, UCHAR byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, WriteAddress(address));
  WriteRegister(kCommand, command);
  WriteRegister(kData0, byte);
  return StartAndWait(control::kByteData);
}

ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  const ResultCode result = StartAndWait(control::kWordData);
  if (result != kResultSuccess) return result;
  const UCHAR low = ReadRegister(kData0);
  const UCHAR high = ReadRegister(kData1);
  *word = static_cast<USHORT>(low | (high << 8));
  return kResultSuccess;
}

ResultCode WriteWordData(UCHAR address, UCHAR command, USHORT word) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, WriteAddress(address));
  WriteRegister(kCommand, command);
  WriteRegister(kData0, static_cast<UCHAR>(word & 0xFF));
  WriteRegister(kData1, static_cast<UCHAR>(word >> 8));
  return StartAndWait(control::kWordData);
}

ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count) {
  ResultCode result = WaitIdle();
  if (result != kResultSuccess) return result;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  WriteRegister(kData0, 0);
  Start(control::kBlock);
  result = WaitByteDone();
  if (result != kResultSuccess) return result;
  const UCHAR length = ReadRegister(kData0);
  *count = length;
  // Refused as it stands; the next primitive's WaitIdle meets the host.
  if (length == 0 || length > kMaxBlockBytes) return kResultDeviceError;
  for (ULONG i = 0; i < length; ++i) {
    buffer[i] = ReadRegister(kBlockData);
    WriteStatus(status::kByteDone);  // the host moves on to the next byte
    if (i == length - 1u) WriteControl(control::kLastByte);
    result = WaitByteDone();
    if (result != kResultSuccess) return result;
  }
  result = WaitByteDone();
  if (result != kResultSuccess) return result;
  ClearStatus();
  return kResultSuccess;
}

ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* buffer, UCHAR count) {
  if (count > kMaxBlockBytes) count = kMaxBlockBytes;  // the rest is not sent
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, WriteAddress(address));
  WriteRegister(kCommand, command);
  WriteRegister(kData0, count);
  WriteControl(control::kBlock);
  if (count == 0) {
    ClearStatus();
    return kResultSuccess;
  }
  for (ULONG i = 0; i < count; ++i) {
    WriteRegister(kBlockData, buffer[i]);
    if (i == 0) {
      WriteControl(static_cast<UCHAR>(control::kBlock | control::kStart));
    } else {
      WriteStatus(status::kByteDone);  // the host sends the byte just written
    }
    const ResultCode result = WaitByteDone();
    if (result != kResultSuccess) return result;
  }
  ClearStatus();
  return kResultSuccess;
}

}  // namespace ByteDoneHost
