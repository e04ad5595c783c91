// Dual-status host back-end, serving Chipset 8 and 9 alike.
//
// A host is free only when neither status register shows busy; the second
// one is read only in a poll in which the first shows free. A transaction
// that is never taken up is left to the next WaitIdle; one that stays busy,
// and a host that never becomes free, are aborted. Error flags of a finished
// transaction are decoded in a fixed priority: failed, collision, device
// error. Primitives never retry and never pause.
#include "hosts/dual_status_host.h"

#include "hosts/host_registers.h"

namespace DualStatusHost {
namespace {

using HostRegisters::ReadAddress;
using HostRegisters::ReadRegister;
using HostRegisters::WriteAddress;
using HostRegisters::WriteRegister;

// Writing back the value just read clears exactly the flags that were set.
void ClearStatus() {
  WriteRegister(kStatus, ReadRegister(kStatus));
}

// The abort bit must be dropped again before the host takes a new start.
void Abort() {
  WriteRegister(kControl, control::kAbort);
  WriteRegister(kControl, 0);
}

// One poll of WaitIdle: the second busy flag only matters once the first
// is clear, and is not read otherwise.
bool HostFree() {
  if (ReadRegister(kStatus) & status::kBusy) return false;
  return (ReadRegister(kSecondStatus) & second_status::kBusy) == 0;
}

// Result of a finished transaction's status, highest priority first.
ResultCode DecodeStatus(UCHAR value) {
  if ((value & status::kErrors) == 0) return kResultSuccess;
  if (value & status::kFailed) return kResultFailed;
  if (value & status::kCollision) return kResultCollisionOrDeviceError;
  return kResultDeviceError;
}

ResultCode StartAndWait(UCHAR protocol) {
  WriteRegister(kControl, protocol);
  return WaitDone();
}

}  // namespace

ResultCode WaitIdle() {
  for (ULONG polls = 0; !HostFree(); ++polls) {
    if (polls == kPollBudget) {
      Abort();
      return kResultTimeout;  // the status is left as it is
    }
  }
  ClearStatus();
  return kResultSuccess;
}

ResultCode WaitDone() {
  UCHAR value = 0;
  // Neither busy nor finished: the start was not taken up. Whatever is still
  // pending is met by the next WaitIdle.
  if (!HostRegisters::PollUntilAnySet(kStatus, status::kBusy | status::kFinished, &value)) {
    return kResultHostNotReady;
  }
  if (!HostRegisters::PollUntilClear(kStatus, status::kBusy, &value)) {
    Abort();
    return kResultTimeout;
  }
  ClearStatus();
  return DecodeStatus(value);
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
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  const ResultCode result = StartAndWait(control::kBlock);
  if (result != kResultSuccess) return result;
  const UCHAR length = ReadRegister(kData0);
  *count = length;
  if (length == 0 || length > kMaxBlockBytes) return kResultDeviceError;
  ReadRegister(kControl);  // rewinds the block data index; the value is not used
  for (ULONG i = 0; i < length; ++i)
    buffer[i] = ReadRegister(kBlockData);
  return kResultSuccess;
}

ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* buffer, UCHAR count) {
  if (count > kMaxBlockBytes) count = kMaxBlockBytes;  // the rest is not sent
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, WriteAddress(address));
  WriteRegister(kCommand, command);
  WriteRegister(kData0, count);
  ReadRegister(kControl);  // rewinds the block data index; the value is not used
  for (ULONG i = 0; i < count; ++i)
    WriteRegister(kBlockData, buffer[i]);
  return StartAndWait(control::kBlock);
}

}  // namespace DualStatusHost
