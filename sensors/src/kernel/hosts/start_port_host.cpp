// Start-port host back-end, serving Chipset 1.
//
// A host must have left busy and show idle before a transaction is set up;
// one that is neither busy nor idle is refused at once and left alone. After
// the start the wait looks for done, then for idle, on one shared budget.
// Error flags of a finished transaction are decoded in a fixed priority:
// failed, bus error, device error. Primitives never retry.
#include "hosts/start_port_host.h"

#include "hosts/host_registers.h"

namespace StartPortHost {
namespace {

using HostRegisters::ReadAddress;
using HostRegisters::ReadRegister;
using HostRegisters::WriteAddress;
using HostRegisters::WriteRegister;

UCHAR ReadStatus() {
  return ReadRegister(kStatus);
}

// Writing back the value just read clears exactly the flags that were set.
void ClearStatus() {
  WriteRegister(kStatus, ReadStatus());
}

// Reads the status until `flag` is as wanted, pausing 10 us between reads;
// `value` keeps the read that ended the poll. `pauses` is the budget spent
// so far and carries on to the caller's next phase; false when it ran out.
bool PollPaced(UCHAR flag, bool wantSet, ULONG* pauses, UCHAR* value) {
  for (*value = ReadStatus(); ((*value & flag) != 0) != wantSet; *value = ReadStatus()) {
    if (*pauses == kPollBudget) return false;
    SmbDelay(kDelay10us);
    ++*pauses;
  }
  return true;
}

ResultCode Kill() {
  WriteRegister(kProtocol, protocol::kKill);
  ClearStatus();
  return kResultTimeout;
}

// Result of a finished transaction's status, highest priority first.
ResultCode DecodeStatus(UCHAR value) {
  if ((value & status::kErrors) == 0) return kResultSuccess;
  if (value & status::kFailed) return kResultFailed;
  if (value & status::kBusError) return kResultBusError;
  return kResultDeviceError;
}

ResultCode StartAndWait() {
  WriteRegister(kStart, kGo);
  return WaitDone();
}

}  // namespace

ResultCode WaitIdle() {
  ULONG pauses = 0;
  UCHAR value = 0;
  if (!PollPaced(status::kBusy, false, &pauses, &value)) return kResultTimeout;  // nothing written
  // Not busy any more, yet not idle either: refused without waiting.
  if ((ReadStatus() & status::kIdle) == 0) return kResultBusError;
  ClearStatus();
  return kResultSuccess;
}

ResultCode WaitDone() {
  ULONG pauses = 0;  // one budget for both phases
  UCHAR value = 0;
  if (!PollPaced(status::kDone, true, &pauses, &value)) return Kill();
  // The first read for idle follows the read that showed done at once.
  if (!PollPaced(status::kIdle, true, &pauses, &value)) return Kill();
  ClearStatus();
  return DecodeStatus(value);
}

ResultCode ReceiveByte(UCHAR address, UCHAR* byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kProtocol, protocol::kByte);
  const ResultCode result = StartAndWait();
  if (result != kResultSuccess) return result;
  *byte = ReadRegister(kData0);
  return kResultSuccess;
}

ResultCode SendByte(UCHAR address, UCHAR byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, WriteAddress(address));
  WriteRegister(kCommand, byte);  // a send byte carries its data in the command register
  WriteRegister(kProtocol, protocol::kByte);
  return StartAndWait();
}

ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  WriteRegister(kProtocol, protocol::kByteData);
  const ResultCode result = StartAndWait();
  if (result != kResultSuccess) return result;
  *byte = ReadRegister(kData0);
  return kResultSuccess;
}

ResultCode WriteByteData(UCHAR address, UCHAR command, UCHAR byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, WriteAddress(address));
  WriteRegister(kCommand, command);
  WriteRegister(kProtocol, protocol::kByteData);
  WriteRegister(kData0, byte);
  return StartAndWait();
}

ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  WriteRegister(kProtocol, protocol::kWordData);
  const ResultCode result = StartAndWait();
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
  WriteRegister(kProtocol, protocol::kWordData);
  WriteRegister(kData0, static_cast<UCHAR>(word & 0xFF));
  WriteRegister(kData1, static_cast<UCHAR>(word >> 8));
  return StartAndWait();
}

ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  WriteRegister(kProtocol, protocol::kBlock);
  const ResultCode result = StartAndWait();
  if (result != kResultSuccess) return result;
  const UCHAR length = ReadRegister(kData0);
  *count = length;
  if (length == 0 || length > kMaxBlockBytes) return kResultDeviceError;
  WriteRegister(kStatus, status::kRewindBlock);
  for (ULONG i = 0; i < length; ++i)
    buffer[i] = ReadRegister(kBlockData);
  return kResultSuccess;
}

// Unlike the other primitives, the protocol is written after the data.
ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* buffer, UCHAR count) {
  if (count > kMaxBlockBytes) count = kMaxBlockBytes;  // the rest is not sent
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, WriteAddress(address));
  WriteRegister(kCommand, command);
  WriteRegister(kData0, count);
  WriteRegister(kStatus, status::kRewindBlock);
  for (ULONG i = 0; i < count; ++i)
    WriteRegister(kBlockData, buffer[i]);
  WriteRegister(kProtocol, protocol::kBlock);
  return StartAndWait();
}

}  // namespace StartPortHost
