// Embedded-controller host back-end, serving Chipset 10.
//
// The controller raises events for its own reasons too; every register
// access first acknowledges whatever is pending and throws the event byte
// away. The event that ends a transaction is only waited for, not taken: the
// next register access drains it. Primitives never retry and keep no state.
#include "hosts/embedded_controller_host.h"

#include "controller_state.h"
#include "platform/port_io.h"

namespace EmbeddedControllerHost {
namespace {

// Results of the status codes (the status without its done bit) below
// 0x20. A code without a meaning of its own still reports a failure: only
// 0x80 is success, and it never reaches this table, nor does 0x00.
constexpr ResultCode kNoMeaning = kResultBusError;
constexpr ResultCode kStatusCodeResults[32] = {
    kNoMeaning,            // 0x00 no error: decided before the table (0x80, 0x00)
    kNoMeaning,            // 0x01
    kNoMeaning,            // 0x02
    kNoMeaning,            // 0x03
    kNoMeaning,            // 0x04
    kNoMeaning,            // 0x05
    kNoMeaning,            // 0x06
    kResultFailed,         // 0x07 failure without further detail
    kNoMeaning,            // 0x08
    kNoMeaning,            // 0x09
    kNoMeaning,            // 0x0A
    kNoMeaning,            // 0x0B
    kNoMeaning,            // 0x0C
    kNoMeaning,            // 0x0D
    kNoMeaning,            // 0x0E
    kNoMeaning,            // 0x0F
    kResultNoAcknowledge,  // 0x10 device address not acknowledged
    kResultDeviceError,    // 0x11 device error
    kResultNotSupported,   // 0x12 device command access denied
    kResultBusError,       // 0x13 error without further detail
    kNoMeaning,            // 0x14
    kNoMeaning,            // 0x15
    kNoMeaning,            // 0x16
    kResultDeviceError,    // 0x17 device access denied
    kResultTimeout,        // 0x18 time-out
    kResultNotSupported,   // 0x19 protocol not supported
    kResultBusBusy,        // 0x1A SMBus busy
    kNoMeaning,            // 0x1B
    kNoMeaning,            // 0x1C
    kNoMeaning,            // 0x1D
    kNoMeaning,            // 0x1E
    kResultPecError,       // 0x1F packet error check error
};
constexpr UCHAR kFirstUncoded = 0x20;  // codes 0x20..0x7F: failed

UCHAR ReadStatus() {
  return PortReadByte(Controller.EcCommandPort);
}
void WriteCommand(UCHAR value) {
  PortWriteByte(Controller.EcCommandPort, value);
}
UCHAR ReadData() {
  return PortReadByte(Controller.EcDataPort);
}
void WriteData(UCHAR value) {
  PortWriteByte(Controller.EcDataPort, value);
}

// Reads the status until every flag of `mask` is clear; false once
// kStatusReadLimit reads have all shown one.
bool WaitClear(UCHAR mask) {
  ULONG reads = 1;
  for (UCHAR value = ReadStatus(); (value & mask) != 0; value = ReadStatus(), ++reads) {
    if (reads == kStatusReadLimit) return false;
  }
  return true;
}

// Reads the status until one flag of `mask` is set, counting each read in
// `*reads`; false once the count has reached kStatusReadLimit with none set.
bool WaitSetCounted(UCHAR mask, ULONG* reads) {
  while (*reads < kStatusReadLimit) {
    ++*reads;
    if ((ReadStatus() & mask) != 0) return true;
  }
  return false;
}

// As WaitClear, until one flag of `mask` is set.
bool WaitSet(UCHAR mask) {
  ULONG reads = 0;
  return WaitSetCounted(mask, &reads);
}

// Before a read command both buffers must be empty; a value that shows
// either full is followed by one more read, whose value is ignored, before
// the next test. Both kinds of read count towards the limit.
bool WaitBuffersEmptyForRead() {
  ULONG reads = 1;
  UCHAR value = ReadStatus();
  while ((value & status::kBuffersFull) != 0) {
    if (reads + 2 > kStatusReadLimit) return false;
    ReadStatus();
    value = ReadStatus();
    reads += 2;
  }
  return true;
}

// A command or data byte, then the wait until the controller took it.
bool PutCommand(UCHAR value) {
  WriteCommand(value);
  return WaitClear(status::kInputFull);
}
bool PutData(UCHAR value) {
  WriteData(value);
  return WaitClear(status::kInputFull);
}

// Starts the transaction whose registers are written and reads its status.
// Success (status 0x80 exactly) is the only outcome after which the result
// registers may be read.
ResultCode Run(UCHAR protocolNumber) {
  const ResultCode result = EcWriteRegister(smb::kProtocol, protocolNumber);
  if (result != kResultSuccess) return result;
  WaitEcEvent();
  UCHAR value = 0;
  const ResultCode read = EcReadRegister(smb::kStatus, &value);
  if (read != kResultSuccess) return read;
  return MapEcStatus(value);
}

ResultCode WriteAddressAndCommand(UCHAR address, UCHAR command) {
  const ResultCode result = EcWriteRegister(smb::kAddress, address);
  if (result != kResultSuccess) return result;
  return EcWriteRegister(smb::kCommand, command);
}

// A register written, then read back once; the value read is not needed.
ResultCode WriteAndReadBack(UCHAR index, UCHAR value) {
  const ResultCode result = EcWriteRegister(index, value);
  if (result != kResultSuccess) return result;
  UCHAR ignored = 0;
  return EcReadRegister(index, &ignored);
}

// The block count register's low five bits; 0 stands for a full block.
UCHAR BlockLength(UCHAR registerValue) {
  const UCHAR length = registerValue & smb::kBlockCountMask;
  return length == 0 ? kMaxBlockBytes : length;
}

ResultCode ReadBlockData(UCHAR* buffer, UCHAR* count) {
  UCHAR value = 0;
  ResultCode result = EcReadRegister(smb::kBlockCount, &value);
  if (result != kResultSuccess) return result;
  const UCHAR length = BlockLength(value);
  for (UCHAR i = 0; i < length; ++i) {
    result = EcReadRegister(static_cast<UCHAR>(smb::kData0 + i), &buffer[i]);
    if (result != kResultSuccess) return result;
  }
  *count = length;
  return kResultSuccess;
}

}  // namespace

ResultCode MapEcStatus(UCHAR value) {
  if (value == smb::kDone) return kResultSuccess;
  if (value == smb::kNotFinished) return kResultTimeout;
  const UCHAR code = value & smb::kStatusCodeMask;
  if (code >= kFirstUncoded) return kResultFailed;
  return kStatusCodeResults[code];
}

// A new event is queried only while the drain as a whole has made fewer
// than kStatusReadLimit status reads, its flag tests and its waits for event
// bytes together; each event byte is still waited for as long as any other
// byte. A controller whose event flag stays set thus ends the drain with a
// time-out after at most twice kStatusReadLimit status reads, however fast
// or slowly it answers, and never in the middle of a query it answers.
ResultCode DrainEcEvents() {
  ULONG reads = 1;
  for (UCHAR value = ReadStatus(); (value & status::kEventPending) != 0;
       value = ReadStatus(), ++reads) {
    if (reads >= kStatusReadLimit) return kResultTimeout;
    WriteCommand(command::kQueryEvent);
    ULONG waited = 0;
    if (!WaitSetCounted(status::kOutputFull, &waited)) return kResultTimeout;
    reads += waited;
    ReadData();  // the event byte: nobody here wants it
  }
  return kResultSuccess;
}

ResultCode EcWriteRegister(UCHAR index, UCHAR value) {
  const ResultCode result = DrainEcEvents();
  if (result != kResultSuccess) return result;
  if (!WaitClear(status::kBuffersFull)) return kResultTimeout;
  if (!PutCommand(command::kWriteRegister)) return kResultTimeout;
  if (!PutData(index)) return kResultTimeout;
  if (!PutData(value)) return kResultTimeout;
  return kResultSuccess;
}

ResultCode EcReadRegister(UCHAR index, UCHAR* value) {
  const ResultCode result = DrainEcEvents();
  if (result != kResultSuccess) return result;
  if (!WaitBuffersEmptyForRead()) return kResultTimeout;
  if (!PutCommand(command::kReadRegister)) return kResultTimeout;
  WriteData(index);
  if (!WaitSet(status::kOutputFull)) return kResultTimeout;
  *value = ReadData();
  return kResultSuccess;
}

void WaitEcEvent() {
  UCHAR value = ReadStatus();
  for (ULONG polls = 0; (value & status::kEventPending) == 0; ++polls) {
    if (polls == kPollBudget) return;
    value = ReadStatus();
  }
}

ResultCode ReceiveByte(UCHAR address, UCHAR* byte) {
  ResultCode result = EcWriteRegister(smb::kAddress, address);
  if (result != kResultSuccess) return result;
  result = Run(protocol::kReceiveByte);
  if (result != kResultSuccess) return result;
  return EcReadRegister(smb::kData0, byte);
}

ResultCode SendByte(UCHAR address, UCHAR byte) {
  // A send byte carries its data in the command register.
  const ResultCode result = WriteAddressAndCommand(address, byte);
  if (result != kResultSuccess) return result;
  return Run(protocol::kSendByte);
}

ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte) {
  ResultCode result = WriteAndReadBack(smb::kAddress, address);
  if (result != kResultSuccess) return result;
  result = WriteAndReadBack(smb::kCommand, command);
  if (result != kResultSuccess) return result;
  result = Run(protocol::kReadByte);
  if (result != kResultSuccess) return result;
  return EcReadRegister(smb::kData0, byte);
}

ResultCode WriteByteData(UCHAR address, UCHAR command, UCHAR byte) {
  ResultCode result = WriteAddressAndCommand(address, command);
  if (result != kResultSuccess) return result;
  result = EcWriteRegister(smb::kData0, byte);
  if (result != kResultSuccess) return result;
  return Run(protocol::kWriteByte);
}

ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word) {
  ResultCode result = WriteAddressAndCommand(address, command);
  if (result != kResultSuccess) return result;
  result = Run(protocol::kReadWord);
  if (result != kResultSuccess) return result;
  UCHAR low = 0;
  UCHAR high = 0;
  result = EcReadRegister(smb::kData0, &low);
  if (result != kResultSuccess) return result;
  result = EcReadRegister(smb::kData1, &high);
  if (result != kResultSuccess) return result;
  *word = static_cast<USHORT>(low | (high << 8));
  return kResultSuccess;
}

ResultCode WriteWordData(UCHAR address, UCHAR command, USHORT word) {
  ResultCode result = WriteAddressAndCommand(address, command);
  if (result != kResultSuccess) return result;
  result = EcWriteRegister(smb::kData0, static_cast<UCHAR>(word & 0xFF));
  if (result != kResultSuccess) return result;
  result = EcWriteRegister(smb::kData1, static_cast<UCHAR>(word >> 8));
  if (result != kResultSuccess) return result;
  return Run(protocol::kWriteWord);
}

ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count) {
  ResultCode result = WriteAddressAndCommand(address, command);
  if (result != kResultSuccess) return result;
  result = Run(protocol::kBlockRead);
  if (result != kResultSuccess) return result;
  return ReadBlockData(buffer, count);
}

ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* buffer, UCHAR count) {
  if (count == 0 || count > kMaxBlockBytes) return kResultFailed;
  ResultCode result = WriteAddressAndCommand(address, command);
  if (result != kResultSuccess) return result;
  for (UCHAR i = 0; i < count; ++i) {
    result = EcWriteRegister(static_cast<UCHAR>(smb::kData0 + i), buffer[i]);
    if (result != kResultSuccess) return result;
  }
  // The register holds five bits: a full block is written as 0.
  const UCHAR countValue = count == kMaxBlockBytes ? 0 : count;
  result = EcWriteRegister(smb::kBlockCount, countValue);
  if (result != kResultSuccess) return result;
  return Run(protocol::kBlockWrite);
}

}  // namespace EmbeddedControllerHost
