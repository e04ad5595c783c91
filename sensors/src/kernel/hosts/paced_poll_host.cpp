// Paced-poll host back-end, serving Chipset 4, 5 and 6.
//
// Every primitive: wait for a free host, program the registers, write the
// control register last to start, wait for the transaction to show and
// finish, decode the status (failed, then bus error, then device error),
// read the data. Primitives never retry; the message operations use the
// send-byte and receive-byte primitives directly, with no retries either.
#include "hosts/paced_poll_host.h"

#include "controller_state.h"
#include "discovery/pci_config.h"
#include "platform/port_io.h"

namespace PacedPollHost {
namespace {

// Pauses, each a sleep of the calling thread.
constexpr ULONG kPollPause = kDelayHalfMs;
constexpr ULONG kAfterSend = kDelay250us;
constexpr ULONG kBeforeReplyByte = kDelay400us;  // Chipset 6 only
constexpr ULONG kAfterFailedExchange = kDelay800ms;
constexpr ULONG kAfterMessageByte = kDelay100us;

UCHAR ReadRegister(UCHAR offset) {
  return PortReadByte(Controller.SmbBase + offset);
}

void WriteRegister(UCHAR offset, UCHAR value) {
  PortWriteByte(Controller.SmbBase + offset, value);
}

UCHAR ReadStatus() {
  return ReadRegister(kStatus);
}

// Writing back the value just read clears exactly the flags that were set.
void ClearStatus() {
  WriteRegister(kStatus, ReadStatus());
}

// The kill bit must be dropped again before the host takes a new start.
void Kill() {
  WriteRegister(kControl, control::kKill);
  WriteRegister(kControl, control::kRelease);
}

// The value read is of no use: the read itself rewinds the block index.
void RewindBlockBuffer() {
  ReadRegister(kControl);
}

UCHAR ReadAddress(UCHAR address) {
  return static_cast<UCHAR>(address | kReadBit);
}
UCHAR WriteAddress(UCHAR address) {
  return static_cast<UCHAR>(address & ~kReadBit);
}

// A busy time-out leaves the host as it is; only the status is recorded.
ResultCode BusyTimeout() {
  Controller.LastHostStatus = ReadStatus();
  return kResultTimeout;
}

// Chipset 4: the second status register is only worth reading once the
// first shows the host free.
bool SpinHostFree() {
  if (ReadStatus() & status::kBusy) return false;
  return (ReadRegister(kSecondStatus) & secondStatus::kBusy) == 0;
}

ResultCode SpinUntilIdle() {
  for (ULONG polls = 0; !SpinHostFree(); ++polls) {
    if (polls == kSpinPolls) {
      Kill();
      ClearStatus();
      return kResultTimeout;
    }
  }
  ClearStatus();
  return kResultSuccess;
}

bool RecoveryPoll(ULONG polls) {
  return polls != 0 && polls < kIdlePauses && polls % kRecoveryEvery == 0;
}

// Chipset 5 and 6: neither kills nor clears a host that stays busy.
ResultCode PaceUntilIdle() {
  AuxPortAccess();
  UCHAR value = ReadStatus();
  for (ULONG polls = 0; value & status::kBusy; ++polls) {
    AuxPortAccess();
    if (RecoveryPoll(polls)) RecoverHostConfig();
    if (polls == kIdlePauses) return BusyTimeout();
    SmbDelay(kPollPause);
    value = ReadStatus();
  }
  ClearStatus();
  return kResultSuccess;
}

// First phase of WaitDone: the start must show as busy or done.
bool WaitStarted() {
  UCHAR value = ReadStatus();
  for (ULONG polls = 0; (value & (status::kBusy | status::kDone)) == 0; ++polls) {
    if (polls == kDonePauses) return false;
    SmbDelay(kPollPause);
    value = ReadStatus();
  }
  return true;
}

// Second phase: busy must clear; `value` is the status that showed it clear.
bool WaitFinished(UCHAR* value) {
  *value = ReadStatus();
  for (ULONG polls = 0; *value & status::kBusy; ++polls) {
    if (polls == kDonePauses) return false;
    SmbDelay(kPollPause);
    *value = ReadStatus();
  }
  return true;
}

// Done is not needed for success: a status without error flags is enough.
ResultCode Decode(UCHAR value) {
  if (value & status::kFailed) return kResultFailed;
  if (value & status::kBusError) return kResultBusError;
  if (value & status::kDeviceError) return kResultDeviceError;
  return kResultSuccess;
}

ResultCode StartAndWait(UCHAR start) {
  WriteRegister(kControl, start);
  return WaitDone();
}

// The exchange's failures all end in the same long pause before the result.
ResultCode FailExchange(UCHAR* count, ResultCode result) {
  *count = 0;
  SmbDelay(kAfterFailedExchange);
  return result;
}

ResultCode SendMessage(UCHAR address, const UCHAR* buffer, UCHAR count) {
  for (ULONG i = 0; i < count; ++i) {
    const ResultCode result = SendByte(address, buffer[i]);
    SmbDelay(kAfterSend);  // the failing send included
    if (result != kResultSuccess) return result;
  }
  return kResultSuccess;
}

ResultCode ReceiveReply(UCHAR address, UCHAR* buffer, UCHAR length) {
  for (ULONG i = 1; i <= length; ++i) {
    if (Controller.Chipset == 6) SmbDelay(kBeforeReplyByte);
    UCHAR byte = 0;
    const ResultCode result = ReceiveByte(address, &byte);
    if (result != kResultSuccess) return result;
    buffer[i] = byte;
  }
  return kResultSuccess;
}

}  // namespace

void AuxPortAccess() {
  if (Controller.Chipset != 5) return;
  PortWriteByte(kAuxIndexPort, kAuxIndex);
  for (ULONG i = 0; i < kAuxDataReads; ++i)
    PortReadByte(kAuxDataPort);
}

// Pulses bit 0x10 at 0x40, then puts back the base and host configuration
// dwords as discovery left them.
void RecoverHostConfig() {
  if (Controller.Chipset != 6) return;
  const ULONG bus = Controller.SavedHostBus;
  const ULONG device = Controller.SavedHostDevice;
  const ULONG function = Controller.SavedHostFunction;  // function 0 unless HostFunction moved it
  const ULONG index40 = pci::DwordIndex(kRecoveryConfig40);
  const ULONG value = PciConfigRead(bus, device, function, index40);
  PciConfigWrite(bus, device, function, index40, value | kRecoveryPulse40);
  PciConfigWrite(bus, device, function, index40, value & ~kRecoveryPulse40);
  PciConfigWrite(bus, device, function, pci::DwordIndex(kSmbBaseConfig90),
                 Controller.SavedBaseConfig);
  PciConfigWrite(bus, device, function, pci::DwordIndex(kHostConfigD0), Controller.SavedHostConfig);
}

ResultCode WaitIdle() {
  if (Controller.Chipset == 4) return SpinUntilIdle();
  return PaceUntilIdle();
}

// A time-out in either phase leaves the status and the transaction alone.
ResultCode WaitDone() {
  if (!WaitStarted()) return kResultHostNotReady;
  UCHAR value = 0;
  if (!WaitFinished(&value)) return BusyTimeout();
  ClearStatus();
  return Decode(value);
}

ResultCode ReceiveByte(UCHAR address, UCHAR* byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  const ResultCode result = StartAndWait(control::kStartByte);
  if (result != kResultSuccess) return result;
  *byte = ReadRegister(kData0);
  return kResultSuccess;
}

ResultCode SendByte(UCHAR address, UCHAR byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, WriteAddress(address));
  WriteRegister(kCommand, byte);  // a send byte carries its data in the command register
  return StartAndWait(control::kStartByte);
}

ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  const ResultCode result = StartAndWait(control::kStartByteData);
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
  return StartAndWait(control::kStartByteData);
}

ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  const ResultCode result = StartAndWait(control::kStartWordData);
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
  return StartAndWait(control::kStartWordData);
}

ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  const ResultCode result = StartAndWait(control::kStartBlock);
  if (result != kResultSuccess) return result;
  const UCHAR length = ReadRegister(kData0);
  *count = length;
  if (length == 0 || length > kMaxBlockBytes) return kResultDeviceError;
  RewindBlockBuffer();
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
  RewindBlockBuffer();
  for (ULONG i = 0; i < count; ++i)
    WriteRegister(kBlockData, buffer[i]);
  return StartAndWait(control::kStartBlock);
}

ResultCode ExchangeMessage(UCHAR address, UCHAR* buffer, UCHAR* count, ULONG limit) {
  if (*count == 0) return kResultFailed;  // nothing asked, nothing to answer
  ResultCode result = SendMessage(address, buffer, *count);
  if (result != kResultSuccess) return FailExchange(count, result);
  UCHAR length = 0;
  result = ReceiveByte(address, &length);
  if (result != kResultSuccess) return FailExchange(count, result);
  if (length >= limit) return FailExchange(count, kResultFailed);  // would not fit the buffer
  *count = length;
  buffer[0] = length;
  result = ReceiveReply(address, buffer, length);
  if (result != kResultSuccess) return FailExchange(count, result);
  return kResultSuccess;
}

ResultCode WriteMessage(UCHAR address, const UCHAR* buffer, UCHAR count) {
  for (ULONG i = 0; i < count; ++i) {
    const ResultCode result = SendByte(address, buffer[i]);
    if (result != kResultSuccess) return result;
    SmbDelay(kAfterMessageByte);
  }
  return kResultSuccess;
}

}  // namespace PacedPollHost
