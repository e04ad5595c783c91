// Chunk-buffer host back-end, serving Chipset 7.
//
// Each primitive waits for both busy flags of the host state to clear and
// clears the status, sets up address, command and data, and starts the
// transaction with the protocol write. Completion is polled in the host
// state; the status read after it decides the result, collision before
// device error. Primitives never retry, and a time-out leaves the host as it
// is: the next call's WaitIdle meets a transaction still running.
#include "hosts/chunk_buffer_host.h"

#include "hosts/host_registers.h"

namespace ChunkBufferHost {
namespace {

using HostRegisters::ReadAddress;
using HostRegisters::ReadRegister;
using HostRegisters::WriteAddress;
using HostRegisters::WriteRegister;

// Writing back the value just read clears exactly the flags that were set.
void ClearStatus() {
  WriteRegister(kStatus, ReadRegister(kStatus));
}

// One poll of the host state: the second read is made only when the first
// shows the first busy flag clear.
bool HostBusy() {
  if (ReadRegister(kHostState) & host_state::kBusy) return true;
  return (ReadRegister(kHostState) & host_state::kSecondBusy) != 0;
}

// The status `value` read at the end, after a second read has been written
// back to clear it.
ResultCode Finish(UCHAR value) {
  ClearStatus();
  if (value & status::kCollision) return kResultCollisionOrDeviceError;
  if (value & status::kDeviceError) return kResultDeviceError;
  return kResultSuccess;
}

// The protocol write starts the transaction.
ResultCode StartAndWait(UCHAR protocolValue) {
  WriteRegister(kProtocol, protocolValue);
  return WaitDone();
}

UCHAR ChunkLength(ULONG remaining) {
  return remaining < kChunkBytes ? static_cast<UCHAR>(remaining) : kChunkBytes;
}

}  // namespace

ResultCode WaitIdle() {
  for (ULONG polls = 0; HostBusy(); ++polls) {
    if (polls == kPollBudget) return kResultTimeout;
  }
  ClearStatus();
  return kResultSuccess;
}

ResultCode WaitDone() {
  UCHAR state = 0;
  if (!HostRegisters::PollUntilClear(kHostState, host_state::kAnyBusy, &state))
    return kResultTimeout;
  const UCHAR decided = ReadRegister(kStatus);
  return Finish(decided);
}

ResultCode WaitChunk() {
  UCHAR value = 0;
  if (!HostRegisters::PollUntilClear(kStatus, status::kChunk, &value)) return kResultTimeout;
  return Finish(value);
}

ResultCode ReceiveByte(UCHAR address, UCHAR* byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  const ResultCode result = StartAndWait(protocol::kByte);
  if (result != kResultSuccess) return result;
  *byte = ReadRegister(kData0);
  return kResultSuccess;
}

ResultCode SendByte(UCHAR address, UCHAR byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, WriteAddress(address));
  WriteRegister(kCommand, byte);  // a send byte carries its data in the command register
  return StartAndWait(protocol::kByte);
}

ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  const ResultCode result = StartAndWait(protocol::kByteData);
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
  return StartAndWait(protocol::kByteData);
}

ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word) {
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  const ResultCode result = StartAndWait(protocol::kWordData);
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
  return StartAndWait(protocol::kWordData);
}

ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count) {
  ResultCode result = WaitIdle();
  if (result != kResultSuccess) return result;
  WriteRegister(kAddress, ReadAddress(address));
  WriteRegister(kCommand, command);
  result = StartAndWait(protocol::kBlock);
  if (result != kResultSuccess) return result;
  const UCHAR length = ReadRegister(kBlockCount);
  *count = length;
  if (length == 0 || length > kMaxBlockBytes) return kResultDeviceError;
  for (ULONG i = 0; i < length;) {
    const UCHAR chunk = ChunkLength(length - i);
    for (UCHAR k = 0; k < chunk; ++k, ++i)
      buffer[i] = ReadRegister(static_cast<UCHAR>(kData0 + k));
    result = WaitChunk();
    if (result != kResultSuccess) return result;  // the bytes taken stay
  }
  return kResultSuccess;
}

ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* buffer, UCHAR count) {
  if (count > kMaxBlockBytes) count = kMaxBlockBytes;  // the rest is not sent
  const ResultCode idle = WaitIdle();
  if (idle != kResultSuccess) return idle;
  WriteRegister(kAddress, WriteAddress(address));
  WriteRegister(kCommand, command);
  WriteRegister(kBlockCount, count);
  WriteRegister(kProtocol, protocol::kBlock);  // started before the first byte is loaded
  for (ULONG i = 0; i < count;) {
    const UCHAR chunk = ChunkLength(count - i);
    for (UCHAR k = 0; k < chunk; ++k, ++i)
      WriteRegister(static_cast<UCHAR>(kData0 + k), buffer[i]);
    const ResultCode result = WaitChunk();
    if (result != kResultSuccess) return result;
  }
  // No wait for the end: the next call's WaitIdle meets it.
  return kResultSuccess;
}

}  // namespace ChunkBufferHost
